#include "e2eharness.h"

#include "async/runsync.h"
#include "auth/googleauth.h"
#include "auth/keychainstore.h"
#include "auth/oauthconfiguration.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSet>
#include <QUrlQuery>
#include <QUuid>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace Tarnwick::EndToEnd {

namespace {

QNetworkAccessManager &network()
{
    static QNetworkAccessManager manager;
    return manager;
}

} // namespace

EmulatorProcess::EmulatorProcess(const QString &workDir)
{
    const QString seed = workDir + u"/seed.json"_s;
    QFile file(seed);
    if (file.open(QIODevice::WriteOnly)) {
        const QJsonObject world{
            {u"users"_s,
             QJsonArray{QJsonObject{{u"email"_s, u"e2e@example.com"_s},
                                    {u"displayName"_s, u"Người kiểm thử"_s},
                                    {u"quotaLimit"_s, u"107374182400"_s}}}},
            {u"clients"_s, QJsonArray{QJsonObject{{u"clientId"_s, clientId},
                                                  {u"clientSecret"_s, clientSecret}}}}};
        file.write(QJsonDocument(world).toJson());
        file.close();
    }
    m_process.setProgram(QStringLiteral(TARNWICK_EMULATOR_EXECUTABLE));
    m_process.setArguments({u"--port"_s, u"0"_s, u"--seed"_s, seed, u"--data-dir"_s,
                            workDir + u"/drive"_s, u"--access-token"_s, accessToken});
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start();
    m_process.waitForStarted();
    QByteArray out;
    while (!out.contains('\n') && m_process.waitForReadyRead(30'000))
        out += m_process.readAllStandardOutput();
    const qsizetype at = out.indexOf("http://");
    if (at >= 0)
        m_baseUrl = QString::fromUtf8(out.mid(at).trimmed());
}

EmulatorProcess::~EmulatorProcess()
{
    m_process.terminate();
    if (!m_process.waitForFinished(10'000))
        m_process.kill();
}

QJsonDocument EmulatorProcess::call(const QByteArray &method, const QString &path,
                                    const QJsonDocument &body)
{
    QNetworkRequest request(QUrl(m_baseUrl + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/json"_s);
    if (!path.startsWith(u"/__control"_s))
        request.setRawHeader("Authorization", "Bearer " + accessToken.toUtf8());
    const QByteArray payload = body.isNull() ? QByteArray() : body.toJson(QJsonDocument::Compact);
    QNetworkReply *reply = network().sendCustomRequest(request, method, payload);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QByteArray answer = reply->readAll();
    if (reply->error() != QNetworkReply::NoError)
        ADD_FAILURE() << method.constData() << ' ' << qPrintable(path) << ": "
                      << qPrintable(reply->errorString()) << ' ' << answer.constData();
    reply->deleteLater();
    return QJsonDocument::fromJson(answer);
}

QString EmulatorProcess::createFolder(const QString &name, const QString &parent)
{
    QJsonObject item{{u"name"_s, name}, {u"type"_s, u"folder"_s}};
    if (!parent.isEmpty())
        item.insert(u"parent"_s, parent);
    return call("POST", u"/__control/items"_s, QJsonDocument(item))[u"id"_s].toString();
}

QString EmulatorProcess::createGeneratedFile(const QString &name, const QString &parent,
                                             qint64 size, quint64 seed)
{
    const QJsonObject item{
        {u"name"_s, name},
        {u"parent"_s, parent},
        {u"content"_s,
         QJsonObject{{u"generated"_s, QJsonObject{{u"size"_s, size}, {u"seed"_s, qint64(seed)}}}}}};
    return call("POST", u"/__control/items"_s, QJsonDocument(item))[u"id"_s].toString();
}

int EmulatorProcess::addFault(const QJsonObject &rule)
{
    return call("POST", u"/__control/faults"_s, QJsonDocument(rule))[u"ids"_s][0].toInt();
}

int EmulatorProcess::fired(int faultId)
{
    const QJsonArray faults = call("GET", u"/__control/faults"_s)[u"faults"_s].toArray();
    for (const QJsonValue &f : faults) {
        if (f[u"id"_s].toInt() == faultId)
            return f[u"fired"_s].toInt();
    }
    return 0;
}

void EmulatorProcess::clearFaults()
{
    call("DELETE", u"/__control/faults"_s);
}

QList<QJsonObject> EmulatorProcess::takeLog()
{
    // Read past the last one seen rather than cleared: a clear would drop what arrived between
    // the read and the clear.
    QList<QJsonObject> out;
    const QJsonArray requests =
        call("GET", u"/__control/log?after=%1"_s.arg(m_logSequence))[u"requests"_s].toArray();
    for (const QJsonValue &r : requests) {
        out.append(r.toObject());
        m_logSequence = std::max(m_logSequence, qint64(r[u"sequence"_s].toDouble()));
    }
    return out;
}

QList<EmulatorProcess::Item> EmulatorProcess::children(const QString &folderId)
{
    QList<Item> out;
    QString pageToken;
    do {
        QUrlQuery query;
        query.addQueryItem(u"q"_s, u"'%1' in parents and trashed = false"_s.arg(folderId));
        query.addQueryItem(u"fields"_s,
                           u"nextPageToken,files(id,name,mimeType,sha256Checksum)"_s);
        query.addQueryItem(u"pageSize"_s, u"1000"_s);
        if (!pageToken.isEmpty())
            query.addQueryItem(u"pageToken"_s, pageToken);
        const QJsonDocument page =
            call("GET", u"/drive/v3/files?"_s + query.toString(QUrl::FullyEncoded));
        for (const QJsonValue &f : page[u"files"_s].toArray()) {
            out.append({f[u"id"_s].toString(), f[u"name"_s].toString(),
                        f[u"mimeType"_s].toString() == u"application/vnd.google-apps.folder"_s,
                        f[u"sha256Checksum"_s].toString().toLatin1()});
        }
        pageToken = page[u"nextPageToken"_s].toString();
    } while (!pageToken.isEmpty());
    return out;
}

TarnwickProfile::TarnwickProfile(const QString &workDir, const QString &baseUrl)
    : m_root(workDir + u"/profile"_s)
    , m_baseUrl(baseUrl)
    , m_service(u"com.tarnwick.e2e."_s + QUuid::createUuid().toString(QUuid::Id128))
    , m_log(workDir + u"/tarnwick.log"_s)
{
    QDir().mkpath(m_root + u"/config/Tarnwick"_s);
    QDir().mkpath(m_root + u"/data"_s);
    QDir().mkpath(m_root + u"/cache"_s);
    QFile settings(m_root + u"/config/Tarnwick/Tarnwick.conf"_s);
    if (settings.open(QIODevice::WriteOnly))
        settings.write("[General]\nauto-resume-transfers=true\n");
    settings.close();

    // Signed in the way a finished browser sign-in leaves it: configuration and tokens stored.
    KeychainStore keychain(m_service);
    runSync(keychain.save(OAuthConfiguration{EmulatorProcess::clientId,
                                             EmulatorProcess::clientSecret}
                              .toJsonBytes(),
                          KeychainStore::configurationAccount()));
    const GoogleAuth::Tokens tokens{EmulatorProcess::accessToken, std::nullopt,
                                    QDateTime::currentDateTimeUtc().addYears(10),
                                    EmulatorProcess::clientId};
    runSync(keychain.save(tokens.toJsonBytes(), KeychainStore::tokensAccount()));
}

TarnwickProfile::~TarnwickProfile()
{
    KeychainStore keychain(m_service);
    runSync(keychain.remove(KeychainStore::tokensAccount()));
    runSync(keychain.remove(KeychainStore::configurationAccount()));
}

std::unique_ptr<QProcess> TarnwickProfile::start(const QStringList &arguments) const
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = environment();
    env.insert(u"TARNWICK_AUTOMATION"_s, u"1"_s);
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    process->setProcessEnvironment(env);
    process->setProgram(QStringLiteral(TARNWICK_EXECUTABLE));
    process->setArguments(QStringList{u"--keychain-service"_s, m_service, u"--quit-when-idle"_s}
                          + arguments);
    process->setStandardOutputFile(m_log, QIODevice::Append);
    process->setStandardErrorFile(m_log, QIODevice::Append);
    process->start();
    process->waitForStarted();
    return process;
}

QProcessEnvironment TarnwickProfile::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"TARNWICK_GOOGLE_BASE"_s, m_baseUrl);
    env.insert(u"XDG_CONFIG_HOME"_s, m_root + u"/config"_s);
    env.insert(u"XDG_DATA_HOME"_s, m_root + u"/data"_s);
    env.insert(u"XDG_CACHE_HOME"_s, m_root + u"/cache"_s);
    return env;
}

QString TarnwickProfile::logTail(int lines) const
{
    QFile file(m_log);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QStringList all = QString::fromUtf8(file.readAll()).split(u'\n');
    return all.mid(std::max<qsizetype>(0, all.size() - lines - 1)).join(u'\n');
}

QString TarnwickProfile::sessionFile() const
{
    return m_root + u"/data/Tarnwick/transfers.json"_s;
}

QByteArray sha256Of(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex();
}

void compareDrive(EmulatorProcess &emulator, const QString &driveFolder, const QString &localDir,
                  TrialResult &result, const QString &where)
{
    const QList<EmulatorProcess::Item> items = emulator.children(driveFolder);
    QHash<QString, EmulatorProcess::Item> byName;
    for (const EmulatorProcess::Item &item : items) {
        if (byName.contains(item.name)) {
            ++result.duplicates;
            result.identical = false;
            result.notes << u"duplicate on Drive: "_s + where + u'/' + item.name;
            continue;
        }
        byName.insert(item.name, item);
    }
    const QFileInfoList entries =
        QDir(localDir).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    QSet<QString> seen;
    for (const QFileInfo &entry : entries) {
        const QString path = where + u'/' + entry.fileName();
        seen.insert(entry.fileName());
        const auto it = byName.constFind(entry.fileName());
        if (it == byName.cend() || it->folder != entry.isDir()) {
            result.identical = false;
            result.notes << u"missing on Drive: "_s + path;
            continue;
        }
        if (entry.isDir())
            compareDrive(emulator, it->id, entry.filePath(), result, path);
        else if (it->sha256 != sha256Of(entry.filePath())) {
            result.identical = false;
            result.notes << u"different on Drive: "_s + path;
        }
    }
    for (const EmulatorProcess::Item &item : items) {
        if (!seen.contains(item.name)) {
            result.identical = false;
            result.notes << u"extra on Drive: "_s + where + u'/' + item.name;
        }
    }
}

void compareLocal(const QString &localDir, const TreeDigest &expected, TrialResult &result)
{
    QSet<QString> found;
    QDirIterator it(localDir, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(localDir).relativeFilePath(path);
        const auto want = expected.constFind(relative);
        if (want == expected.cend()) {
            ++result.leftovers;
            result.notes << u"left on disk: "_s + relative;
            continue;
        }
        found.insert(relative);
        if (sha256Of(path) != *want) {
            result.identical = false;
            result.notes << u"different on disk: "_s + relative;
        }
    }
    for (auto want = expected.cbegin(); want != expected.cend(); ++want) {
        if (!found.contains(want.key())) {
            result.identical = false;
            result.notes << u"missing on disk: "_s + want.key();
        }
    }
}

} // namespace Tarnwick::EndToEnd
