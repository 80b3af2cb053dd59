#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QString>

#include <optional>

namespace Tarnwick {

// Byte values in the desktop's secret store (the freedesktop Secret Service), addressed by a
// service name and an account. Each operation is asynchronous and resumes on the main thread.
//
// A missing item is told apart from every failure, and a locked keyring is a failure, never an
// empty store: the Secret Service answers "not found" for items of a locked collection and
// deletes nothing there without saying so. Values never go to a plaintext file instead.
// Failures are TarnwickErrors whose message carries the store's numeric error code.
class KeychainStore final
{
public:
    static QString defaultService() { return QStringLiteral("com.tarnwick.desktop"); }
    static QString tokensAccount() { return QStringLiteral("oauth-tokens"); }
    static QString configurationAccount() { return QStringLiteral("oauth-configuration"); }

    // The code reported when the keyring is locked (QKeychain::AccessDenied).
    static int lockedCode();

    static QString readFailure(int code);
    static QString addFailure(int code);
    static QString updateFailure(int code);
    static QString removeFailure(int code);

    explicit KeychainStore(QString service = defaultService());

    const QString &service() const { return m_service; }

    // The stored bytes, or nothing when there is no such item.
    QCoro::Task<std::optional<QByteArray>> read(QString account) const;
    // Stores the bytes, replacing an earlier value.
    QCoro::Task<> save(QByteArray data, QString account) const;
    // Deletes the item; a missing item is no failure.
    QCoro::Task<> remove(QString account) const;

    bool operator==(const KeychainStore &) const = default;

private:
    QString m_service;
};

} // namespace Tarnwick
