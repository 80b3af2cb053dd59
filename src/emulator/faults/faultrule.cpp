#include "faults/faultrule.h"

#include "api/apierror.h"
#include "api/jsonvalues.h"

#include <QJsonDocument>

#include <stdexcept>

using namespace Qt::StringLiterals;

namespace Tarnwick::Emulator {

namespace {

const QList<QPair<FaultRule::Action, QString>> &actionNames()
{
    static const QList<QPair<FaultRule::Action, QString>> names{
        {FaultRule::Action::Status, u"status"_s},
        {FaultRule::Action::ResetRequest, u"resetRequest"_s},
        {FaultRule::Action::ResetResponse, u"resetResponse"_s},
        {FaultRule::Action::IgnoreRange, u"ignoreRange"_s},
        {FaultRule::Action::KeepFewer, u"keepFewer"_s},
        {FaultRule::Action::ExpireSession, u"expireSession"_s},
        {FaultRule::Action::ExpireToken, u"expireToken"_s},
        {FaultRule::Action::Delay, u"delay"_s},
        {FaultRule::Action::Throttle, u"throttle"_s},
    };
    return names;
}

FaultRule make(FaultRule::Action action, QString method, QString path)
{
    FaultRule rule;
    rule.action = action;
    rule.method = std::move(method);
    rule.path = std::move(path);
    return rule;
}

} // namespace

FaultRule FaultRule::respond(int status, QString method, QString path)
{
    FaultRule rule = make(Action::Status, std::move(method), std::move(path));
    rule.status = status;
    return rule;
}

FaultRule FaultRule::respondError(int status, const QString &reason, const QString &message,
                                  QString method, QString path)
{
    FaultRule rule = respond(status, std::move(method), std::move(path));
    ApiError error(status, reason, message);
    error.domain = u"usageLimits"_s;
    rule.body = QJsonDocument(error.envelope(false)).toJson();
    return rule;
}

FaultRule FaultRule::respondHtml(int status, QString method, QString path)
{
    FaultRule rule = respond(status, std::move(method), std::move(path));
    rule.contentType = u"text/html; charset=UTF-8"_s;
    rule.body =
        QByteArrayLiteral("<!DOCTYPE html>\n<html lang=en><meta charset=utf-8><title>Error ") +
        QByteArray::number(status) + QByteArrayLiteral("</title><p><b>") +
        QByteArray::number(status) +
        QByteArrayLiteral(".</b> <ins>That\xe2\x80\x99s an error.</ins><p>We're sorry, but "
                          "you have sent too many requests to us recently. Please try again "
                          "later. <ins>That\xe2\x80\x99s all we know.</ins>\n");
    return rule;
}

FaultRule FaultRule::resetRequestAfter(qint64 bytes, QString method, QString path)
{
    FaultRule rule = make(Action::ResetRequest, std::move(method), std::move(path));
    rule.bytes = bytes;
    return rule;
}

FaultRule FaultRule::resetResponseAfter(qint64 bytes, QString method, QString path)
{
    FaultRule rule = make(Action::ResetResponse, std::move(method), std::move(path));
    rule.bytes = bytes;
    return rule;
}

FaultRule FaultRule::ignoreRange(QString path)
{
    return make(Action::IgnoreRange, u"GET"_s, std::move(path));
}

FaultRule FaultRule::keepFewer(qint64 bytes, QString path)
{
    FaultRule rule = make(Action::KeepFewer, {}, std::move(path));
    rule.bytes = bytes;
    return rule;
}

FaultRule FaultRule::expireSession(QString method, QString path)
{
    return make(Action::ExpireSession, std::move(method), std::move(path));
}

FaultRule FaultRule::expireToken(QString method, QString path)
{
    return make(Action::ExpireToken, std::move(method), std::move(path));
}

FaultRule FaultRule::delayBy(std::chrono::milliseconds delay, QString method, QString path)
{
    FaultRule rule = make(Action::Delay, std::move(method), std::move(path));
    rule.delay = delay;
    return rule;
}

FaultRule FaultRule::throttle(qint64 bytesPerSecond, QString method, QString path)
{
    FaultRule rule = make(Action::Throttle, std::move(method), std::move(path));
    rule.bytesPerSecond = bytesPerSecond;
    return rule;
}

QJsonObject FaultRule::toJson() const
{
    QJsonObject json{{u"id"_s, id},
                     {u"method"_s, method},
                     {u"path"_s, path},
                     {u"query"_s, query},
                     {u"times"_s, times},
                     {u"skip"_s, skip},
                     {u"probability"_s, probability},
                     {u"status"_s, status},
                     {u"afterHandler"_s, afterHandler},
                     {u"bytes"_s, QString::number(bytes)},
                     {u"delayMs"_s, qint64(delay.count())},
                     {u"bytesPerSecond"_s, QString::number(bytesPerSecond)}};
    for (const auto &[a, name] : actionNames())
        if (a == action)
            json.insert(u"action"_s, name);
    if (!body.isEmpty())
        json.insert(u"body"_s, QString::fromUtf8(body));
    if (!contentType.isEmpty())
        json.insert(u"contentType"_s, contentType);
    QJsonObject extra;
    for (const auto &[name, value] : headers)
        extra.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    if (!extra.isEmpty())
        json.insert(u"headers"_s, extra);
    return json;
}

FaultRule FaultRule::fromJson(const QJsonObject &json)
{
    FaultRule rule;
    const QString actionName = json.value(u"action"_s).toString(u"status"_s);
    bool known = false;
    for (const auto &[a, name] : actionNames()) {
        if (name == actionName) {
            rule.action = a;
            known = true;
        }
    }
    if (!known)
        throw std::invalid_argument("unknown fault action");
    auto integer = [&](const QString &key, qint64 fallback) -> qint64 {
        if (const auto n = jsonInteger(json.value(key), fallback))
            return *n;
        throw std::invalid_argument("malformed number in fault rule");
    };
    rule.method = json.value(u"method"_s).toString().toUpper();
    rule.path = json.value(u"path"_s).toString();
    rule.query = json.value(u"query"_s).toString();
    rule.times = int(integer(u"times"_s, 1));
    rule.skip = int(integer(u"skip"_s, 0));
    rule.probability = json.value(u"probability"_s).toDouble(1.0);
    rule.status = int(integer(u"status"_s, 503));
    rule.body = json.value(u"body"_s).toString().toUtf8();
    rule.contentType = json.value(u"contentType"_s).toString();
    if (json.value(u"html"_s).toBool()) {
        const FaultRule html = respondHtml(rule.status);
        if (rule.body.isEmpty())
            rule.body = html.body;
        rule.contentType = html.contentType;
    }
    const QJsonObject extra = json.value(u"headers"_s).toObject();
    for (auto it = extra.begin(); it != extra.end(); ++it)
        rule.headers.append({it.key().toLatin1(), it.value().toString().toLatin1()});
    rule.afterHandler = json.value(u"afterHandler"_s).toBool();
    rule.bytes = integer(u"bytes"_s, rule.action == Action::KeepFewer ? -1 : 0);
    rule.delay = std::chrono::milliseconds(integer(u"delayMs"_s, 0));
    rule.bytesPerSecond = integer(u"bytesPerSecond"_s, 0);
    if (rule.probability < 0 || rule.probability > 1 || rule.status < 100 || rule.status > 599)
        throw std::invalid_argument("fault rule value out of range");
    return rule;
}

} // namespace Tarnwick::Emulator
