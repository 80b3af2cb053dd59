// DriveEmulator: the control API over HTTP, under /__control/ (see README.md).
#include "driveemulator_p.h"

#include "server/exchange.h"
#include "api/jsonvalues.h"

#include <QJsonArray>

using namespace Qt::StringLiterals;

namespace Tarnwick::Emulator {

namespace {

QJsonObject body(Exchange &ex)
{
    const auto bytes = ex.readBody(64 << 20);
    if (!bytes)
        throw std::invalid_argument("control body too large");
    if (bytes->trimmed().isEmpty())
        return {};
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(*bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        throw std::invalid_argument("control body must be a JSON object");
    return doc.object();
}

qint64 number(const QJsonValue &v, qint64 fallback)
{
    if (!v.isDouble() && !v.isString())
        return fallback;
    if (const auto n = jsonInteger(v, fallback))
        return *n;
    throw std::invalid_argument("malformed number");
}

void ok(Exchange &ex, const QJsonObject &json = {{u"ok"_s, true}})
{
    ex.send(200, QJsonDocument(json).toJson(QJsonDocument::Compact), u"application/json"_s);
}

} // namespace

void DriveEmulator::installControl()
{
    d->server->setControlHandler([this](Exchange &ex) {
        const QStringList parts = ex.path().mid(11).split(u'/', Qt::SkipEmptyParts);
        const QString method = ex.method();
        const QString what = parts.value(0);
        auto is = [&](const char *m, int size) {
            return method == QLatin1StringView(m) && parts.size() == size;
        };

        if (what == u"health"_s)
            return ok(ex);
        if (what == u"faults"_s) {
            if (is("GET", 1)) {
                QJsonArray list;
                for (const FaultRule &r : faults()) {
                    QJsonObject o = r.toJson();
                    o.insert(u"fired"_s, faultFired(r.id));
                    list.append(o);
                }
                return ok(ex, {{u"faults"_s, list}});
            }
            if (is("POST", 1)) {
                const auto bytes = ex.readBody(1 << 20);
                const QJsonDocument doc = QJsonDocument::fromJson(bytes.value_or(QByteArray()));
                QJsonArray rules = doc.isArray() ? doc.array() : QJsonArray{doc.object()};
                QJsonArray ids;
                for (const QJsonValue &v : rules)
                    ids.append(addFault(FaultRule::fromJson(v.toObject())));
                return ok(ex, {{u"ids"_s, ids}});
            }
            if (is("DELETE", 1)) {
                clearFaults();
                return ok(ex);
            }
            if (is("DELETE", 2))
                return ok(ex, {{u"removed"_s, removeFault(parts[1].toInt())}});
            if (is("PUT", 2) && parts[1] == u"seed"_s) {
                setFaultRandomSeed(quint64(number(body(ex).value(u"seed"_s), 1)));
                return ok(ex);
            }
        }
        if (what == u"log"_s) {
            if (is("GET", 1)) {
                QJsonArray list;
                for (const RequestRecord &r : requestLog(ex.param("after").toLongLong()))
                    list.append(r.toJson());
                return ok(ex, {{u"requests"_s, list}});
            }
            if (is("DELETE", 1)) {
                clearRequestLog();
                return ok(ex);
            }
        }
        if (what == u"reset"_s && is("POST", 1)) {
            reset();
            return ok(ex);
        }
        if (what == u"reseed"_s && is("POST", 1)) {
            const auto bytes = ex.readBody(256 << 20);
            reseed(bytes.value_or(QByteArray()));
            return ok(ex);
        }
        if (what == u"state"_s && is("GET", 1))
            return ok(ex, stateJson());
        if (what == u"accounts"_s && is("POST", 1)) {
            const QJsonObject b = body(ex);
            std::optional<qint64> quota;
            if (b.contains(u"quotaLimit"_s))
                quota = number(b.value(u"quotaLimit"_s), 0);
            const TestAccount a =
                addTestAccount(b.value(u"email"_s).toString(u"an.nguyen@example.com"_s),
                               b.value(u"displayName"_s).toString(), quota);
            return ok(ex, {{u"email"_s, a.email},
                           {u"displayName"_s, a.displayName},
                           {u"clientId"_s, a.clientId},
                           {u"clientSecret"_s, a.clientSecret},
                           {u"accessToken"_s, a.accessToken},
                           {u"refreshToken"_s, a.refreshToken},
                           {u"rootFolderId"_s, a.rootFolderId}});
        }
        if (what == u"tokens"_s) {
            const QJsonObject b = body(ex);
            if (is("POST", 1)) {
                const QString email = b.value(u"user"_s).toString(d->state->defaultUser());
                const QString t =
                    issueAccessToken(email, std::chrono::seconds(number(b.value(u"lifetime"_s), 0)),
                                     b.value(u"scope"_s).toString());
                return ok(ex, {{u"access_token"_s, t}});
            }
            if (is("POST", 2) && parts[1] == u"expire"_s) {
                if (b.contains(u"token"_s))
                    return ok(ex,
                              {{u"expired"_s, expireAccessToken(b.value(u"token"_s).toString())}});
                expireAllAccessTokens();
                return ok(ex);
            }
            if (is("POST", 2) && parts[1] == u"revoke"_s) {
                if (b.contains(u"token"_s))
                    return ok(ex, {{u"revoked"_s, revokeToken(b.value(u"token"_s).toString())}});
                revokeAllRefreshTokens();
                return ok(ex);
            }
        }
        if (what == u"sessions"_s) {
            if (is("GET", 1)) {
                QJsonArray list;
                for (const QString &id : uploadSessionIds())
                    list.append(
                        QJsonObject{{u"id"_s, id},
                                    {u"received"_s, QString::number(uploadSessionReceived(id))}});
                return ok(ex, {{u"sessions"_s, list}});
            }
            if (is("POST", 2) && parts[1] == u"expire"_s) {
                const QJsonObject b = body(ex);
                const int status = int(number(b.value(u"status"_s), 404));
                if (b.contains(u"uploadId"_s))
                    return ok(ex, {{u"expired"_s, expireUploadSession(
                                                      b.value(u"uploadId"_s).toString(), status)}});
                expireAllUploadSessions(status);
                return ok(ex);
            }
        }
        if (what == u"clock"_s) {
            if (is("POST", 1)) {
                const QJsonObject b = body(ex);
                advanceClock(std::chrono::seconds(number(b.value(u"advanceSeconds"_s), 0)) +
                             std::chrono::milliseconds(number(b.value(u"advanceMs"_s), 0)));
            }
            if (method == u"POST"_s || method == u"GET"_s)
                return ok(ex, {{u"now"_s, now().toString(Qt::ISODateWithMs)}});
        }
        if (what == u"limits"_s) {
            const auto answer = [&] {
                return ok(ex,
                          {{u"settings"_s, limits().toJson()}, {u"counters"_s, limitCounters()}});
            };
            if (is("GET", 1))
                return answer();
            if (is("POST", 1) || is("PATCH", 1) || is("PUT", 1)) {
                const QJsonObject b = body(ex);
                // PUT states every limit (the rest off); POST and PATCH change the ones named.
                setLimits((method == u"PUT"_s ? LimitSettings() : limits()).patched(b));
                return answer();
            }
            if (is("DELETE", 1)) {
                resetLimits();
                return answer();
            }
        }
        if (what == u"settings"_s) {
            if (is("PATCH", 1) || is("PUT", 1))
                d->state->applySettingsJson(body(ex));
            if (parts.size() == 1)
                return ok(ex, d->state->settingsJson());
        }
        if (what == u"manifest"_s && is("PUT", 1)) {
            setUpdateManifest(ex.readBody(1 << 20).value_or(QByteArray()));
            return ok(ex);
        }
        if (what == u"notifications"_s) {
            if (is("GET", 1)) {
                QJsonArray list;
                for (const Notification &n : notifications())
                    list.append(QJsonObject{{u"from"_s, n.from},
                                            {u"to"_s, n.to},
                                            {u"fileId"_s, n.fileId},
                                            {u"role"_s, n.role},
                                            {u"message"_s, n.message}});
                return ok(ex, {{u"notifications"_s, list}});
            }
            if (is("DELETE", 1)) {
                clearNotifications();
                return ok(ex);
            }
        }
        if (what == u"drives"_s && is("POST", 1)) {
            const QJsonObject b = body(ex);
            QList<QPair<QString, QString>> members;
            for (const QJsonValue &m : b.value(u"members"_s).toArray())
                members.append({m.toObject().value(u"email"_s).toString(),
                                m.toObject().value(u"role"_s).toString(u"organizer"_s)});
            return ok(ex, {{u"id"_s, createSharedDrive(b.value(u"name"_s).toString(), members)}});
        }
        if (what == u"items"_s) {
            if (is("POST", 1)) {
                const QJsonObject b = body(ex);
                const QString owner = b.value(u"owner"_s).toString(d->state->defaultUser());
                const QString parent = b.value(u"parent"_s).toString();
                const QString name = b.value(u"name"_s).toString();
                const QString type = b.value(u"type"_s).toString(u"file"_s);
                const QString mime = b.value(u"mimeType"_s).toString(u"application/octet-stream"_s);
                const QJsonObject content = b.value(u"content"_s).toObject();
                QString id;
                if (type == u"folder"_s)
                    id = createFolder(owner, name, parent);
                else if (type == u"shortcut"_s)
                    id = createShortcut(owner, name, b.value(u"target"_s).toString(), parent);
                else if (type != u"file"_s)
                    id = createGoogleDocument(owner, name, parent, type);
                else if (content.contains(u"generated"_s)) {
                    const QJsonObject g = content.value(u"generated"_s).toObject();
                    id = createGeneratedFile(owner, name, number(g.value(u"size"_s), 0),
                                             quint64(number(g.value(u"seed"_s), 1)), parent, mime);
                } else if (content.contains(u"base64"_s)) {
                    id = createFile(
                        owner, name,
                        QByteArray::fromBase64(content.value(u"base64"_s).toString().toLatin1()),
                        parent, mime);
                } else {
                    id = createFile(owner, name, content.value(u"text"_s).toString().toUtf8(),
                                    parent, mime);
                }
                return ok(ex, {{u"id"_s, id}});
            }
            if (parts.size() >= 2) {
                const QString &id = parts[1];
                if (!exists(id))
                    return ex.json(404, {{u"error"_s, u"no such item"_s}});
                if (is("GET", 2))
                    return ok(ex, itemMetadata(id, ex.param("as"),
                                               ex.hasParam("fields") ? ex.param("fields") : u"*"_s)
                                      .value_or(QJsonObject()));
                if (is("GET", 3) && parts[2] == u"content"_s)
                    return ex.send(200, content(id), u"application/octet-stream"_s);
                if (is("GET", 3) && parts[2] == u"checksums"_s)
                    return ok(ex, {{u"md5"_s, contentMd5(id)}, {u"sha256"_s, contentSha256(id)}});
                if (is("POST", 3) && parts[2] == u"share"_s) {
                    const QJsonObject b = body(ex);
                    share(id, b.value(u"email"_s).toString(),
                          b.value(u"role"_s).toString(u"reader"_s));
                    return ok(ex);
                }
                if (is("POST", 3) && parts[2] == u"trash"_s) {
                    trash(id);
                    return ok(ex);
                }
                if (is("GET", 3) && parts[2] == u"children"_s) {
                    QJsonArray ids;
                    for (const QString &child : childIds(id))
                        ids.append(child);
                    return ok(ex, {{u"children"_s, ids}});
                }
            }
        }
        ex.json(404, {{u"error"_s, u"unknown control request"_s}});
    });
}

} // namespace Tarnwick::Emulator
