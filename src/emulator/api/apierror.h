#pragma once

#include <QJsonObject>
#include <QString>

#include <exception>

namespace Tarnwick::Emulator {

// One failure answered in Google's error envelope. Thrown inside the emulator and turned into a
// response at the edge.
struct ApiError final : std::exception
{
    int status = 500;
    QString reason;
    QString message;
    QString domain = QStringLiteral("global");
    QString location;
    QString locationType;
    // Top-level message when it differs from the per-error one (Google's 401 answers do this).
    QString topMessage;

    ApiError() = default;
    ApiError(int status, QString reason, QString message, QString location = {},
             QString locationType = {});

    const char *what() const noexcept override { return "drive api error"; }
    bool operator==(const ApiError &other) const;

    // The envelope; withStatus adds the newer "status" member (e.g. "NOT_FOUND").
    QJsonObject envelope(bool withStatus) const;

    static ApiError fileNotFound(const QString &id);
    static ApiError permissionNotFound(const QString &id);
    static ApiError invalidValue(const QString &location, const QString &message = {});
    static ApiError required(const QString &location, const QString &message);
    static ApiError insufficientPermissions();
    static ApiError badRequest(const QString &reason, const QString &message);
    static ApiError loginRequired();
    static ApiError invalidCredentials();
    static ApiError invalidFieldSelection(const QString &field);
    static ApiError storageQuotaExceeded();
};

// The canonical status text of Google's newer answers for an HTTP status.
QString canonicalStatus(int status);

} // namespace Tarnwick::Emulator
