#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace Tarnwick::EndToEnd {

// tarnwick-drive-emulator as its own process, with a data folder, and its control API.
class EmulatorProcess
{
public:
    static inline const QString accessToken = QStringLiteral("e2e-access-token");
    static inline const QString clientId = QStringLiteral("tarnwick-e2e.apps.googleusercontent.com");
    static inline const QString clientSecret = QStringLiteral("e2e-secret");

    explicit EmulatorProcess(const QString &workDir);
    ~EmulatorProcess();

    const QString &baseUrl() const { return m_baseUrl; }
    // A control or API call; the answer's JSON (empty on a failure, which is logged).
    QJsonDocument call(const QByteArray &method, const QString &path,
                       const QJsonDocument &body = {});
    // An item under parent ("" for My Drive's top); returns its id.
    QString createFolder(const QString &name, const QString &parent);
    QString createGeneratedFile(const QString &name, const QString &parent, qint64 size,
                                quint64 seed);
    // Adds a fault rule; returns its id.
    int addFault(const QJsonObject &rule);
    int fired(int faultId);
    void clearFaults();
    // Requests logged since the last call of this.
    QList<QJsonObject> takeLog();

    struct Item
    {
        QString id;
        QString name;
        bool folder = false;
        QByteArray sha256; // files only, in hex
    };
    // Children that are not trashed, listed through the Drive API as the client sees them.
    QList<Item> children(const QString &folderId);

private:
    QProcess m_process;
    QString m_baseUrl;
    qint64 m_logSequence = 0;
};

// A file of a tree: its path below the tree's top and its SHA-256.
using TreeDigest = QHash<QString, QByteArray>;

// What a finished trial left behind, counted against the sources.
struct TrialResult
{
    bool identical = true;
    int duplicates = 0;
    int leftovers = 0;
    QStringList notes; // what differed, for the test's output
};

// The tarnwick executable with a profile of its own: settings (auto-resume on), data folder and
// keychain service, signed in to the emulator by a stored configuration and tokens.
class TarnwickProfile
{
public:
    TarnwickProfile(const QString &workDir, const QString &baseUrl);
    ~TarnwickProfile();

    // Starts tarnwick with these extra arguments (the automation options).
    std::unique_ptr<QProcess> start(const QStringList &arguments) const;
    // The environment either executable runs in: the emulator's address and the profile's
    // folders (settings, data with the saved queue, cache).
    QProcessEnvironment environment() const;
    // The keychain service holding the profile's configuration and tokens.
    const QString &service() const { return m_service; }
    QString sessionFile() const;
    const QString &logFile() const { return m_log; }
    // The last lines tarnwick wrote: the work folder, and its log with it, is gone after the test.
    QString logTail(int lines = 20) const;

private:
    QString m_root;
    QString m_baseUrl;
    QString m_service;
    QString m_log;
};

QByteArray sha256Of(const QString &path);
// Compares a Drive folder with a local folder, recursively: names, kinds and contents; counts
// duplicate names in each Drive folder.
void compareDrive(EmulatorProcess &emulator, const QString &driveFolder, const QString &localDir,
                  TrialResult &result, const QString &where = {});
// Compares a local folder with the digest of what should be in it; every other file (part files
// included) is a leftover.
void compareLocal(const QString &localDir, const TreeDigest &expected, TrialResult &result);

} // namespace Tarnwick::EndToEnd
