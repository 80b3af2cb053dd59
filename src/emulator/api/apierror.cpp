#include "api/apierror.h"

#include <QJsonArray>

using namespace Qt::StringLiterals;

namespace Tarnwick::Emulator {

ApiError::ApiError(int status, QString reason, QString message, QString location,
                   QString locationType)
    : status(status)
    , reason(std::move(reason))
    , message(std::move(message))
    , location(std::move(location))
    , locationType(std::move(locationType))
{
    if (!this->location.isEmpty() && this->locationType.isEmpty())
        this->locationType = u"parameter"_s;
}

bool ApiError::operator==(const ApiError &other) const
{
    return status == other.status && reason == other.reason && message == other.message &&
           domain == other.domain && location == other.location &&
           locationType == other.locationType && topMessage == other.topMessage;
}

QJsonObject ApiError::envelope(bool withStatus) const
{
    QJsonObject entry{{u"domain"_s, domain}, {u"reason"_s, reason}, {u"message"_s, message}};
    if (!location.isEmpty()) {
        entry.insert(u"location"_s, location);
        entry.insert(u"locationType"_s, locationType);
    }
    QJsonObject error{{u"code"_s, status},
                      {u"message"_s, topMessage.isEmpty() ? message : topMessage},
                      {u"errors"_s, QJsonArray{entry}}};
    if (withStatus)
        error.insert(u"status"_s, canonicalStatus(status));
    return QJsonObject{{u"error"_s, error}};
}

ApiError ApiError::fileNotFound(const QString &id)
{
    return ApiError(404, u"notFound"_s, u"File not found: %1."_s.arg(id), u"fileId"_s);
}

ApiError ApiError::permissionNotFound(const QString &id)
{
    return ApiError(404, u"notFound"_s, u"Permission not found: %1."_s.arg(id), u"permissionId"_s);
}

ApiError ApiError::invalidValue(const QString &location, const QString &message)
{
    return ApiError(400, u"invalid"_s, message.isEmpty() ? u"Invalid Value"_s : message, location);
}

ApiError ApiError::required(const QString &location, const QString &message)
{
    return ApiError(400, u"required"_s, message, location);
}

ApiError ApiError::insufficientPermissions()
{
    return ApiError(403, u"insufficientFilePermissions"_s,
                    u"The user does not have sufficient permissions for this file."_s);
}

ApiError ApiError::badRequest(const QString &reason, const QString &message)
{
    return ApiError(400, reason, message);
}

ApiError ApiError::loginRequired()
{
    ApiError e(401, u"required"_s, u"Login Required."_s, u"Authorization"_s, u"header"_s);
    e.topMessage =
        u"Request is missing required authentication credential. Expected OAuth 2 access "
        "token, login cookie or other valid authentication credential."_s;
    return e;
}

ApiError ApiError::invalidCredentials()
{
    ApiError e(401, u"authError"_s, u"Invalid Credentials"_s, u"Authorization"_s, u"header"_s);
    e.topMessage =
        u"Request had invalid authentication credentials. Expected OAuth 2 access token, "
        "login cookie or other valid authentication credential."_s;
    return e;
}

ApiError ApiError::invalidFieldSelection(const QString &field)
{
    return ApiError(400, u"invalidParameter"_s, u"Invalid field selection %1"_s.arg(field),
                    u"fields"_s);
}

ApiError ApiError::storageQuotaExceeded()
{
    return ApiError(403, u"storageQuotaExceeded"_s,
                    u"The user's Drive storage quota has been exceeded."_s);
}

QString canonicalStatus(int status)
{
    switch (status) {
    case 400:
        return u"INVALID_ARGUMENT"_s;
    case 401:
        return u"UNAUTHENTICATED"_s;
    case 403:
        return u"PERMISSION_DENIED"_s;
    case 404:
        return u"NOT_FOUND"_s;
    case 409:
        return u"ALREADY_EXISTS"_s;
    case 412:
        return u"FAILED_PRECONDITION"_s;
    case 413:
    case 416:
        return u"OUT_OF_RANGE"_s;
    case 429:
        return u"RESOURCE_EXHAUSTED"_s;
    case 501:
        return u"UNIMPLEMENTED"_s;
    case 503:
        return u"UNAVAILABLE"_s;
    case 504:
        return u"DEADLINE_EXCEEDED"_s;
    default:
        return status >= 500 ? u"INTERNAL"_s : u"UNKNOWN"_s;
    }
}

} // namespace Tarnwick::Emulator
