#include "emulatorfixture.h"

#include <QUrl>

using namespace Qt::StringLiterals;

namespace Tarnwick::Emulator::Testing {

void EmulatorTest::SetUp()
{
    emu = std::make_unique<DriveEmulator>();
    emu->start();
    account = emu->addTestAccount();
    client = std::make_unique<httplib::Client>("127.0.0.1", emu->port());
    client->set_keep_alive(true);
    client->set_read_timeout(10);
}

void EmulatorTest::TearDown()
{
    client.reset();
    emu.reset();
}

httplib::Headers EmulatorTest::auth(const QString &token) const
{
    return {{"Authorization",
             "Bearer " + (token.isEmpty() ? account.accessToken : token).toStdString()}};
}

httplib::Headers
EmulatorTest::auth(std::initializer_list<std::pair<std::string, std::string>> extra) const
{
    httplib::Headers h = auth();
    for (const auto &[k, v] : extra)
        h.emplace(k, v);
    return h;
}

httplib::Result EmulatorTest::get(const QString &target, const httplib::Headers &headers)
{
    return client->Get(target.toStdString(), headers);
}

httplib::Result EmulatorTest::send(const std::string &method, const QString &target,
                                   const httplib::Headers &headers, const QByteArray &body,
                                   const std::string &contentType)
{
    httplib::Request req;
    req.method = method;
    req.path = target.toStdString();
    req.headers = headers;
    req.body = body.toStdString();
    if (!contentType.empty())
        req.set_header("Content-Type", contentType);
    return client->send(req);
}

httplib::Result EmulatorTest::postJson(const QString &target, const QJsonObject &body)
{
    return send("POST", target, auth(), QJsonDocument(body).toJson(),
                "application/json; charset=utf-8");
}

httplib::Result EmulatorTest::patchJson(const QString &target, const QJsonObject &body)
{
    return send("PATCH", target, auth(), QJsonDocument(body).toJson(),
                "application/json; charset=utf-8");
}

QString EmulatorTest::startUpload(const QString &name, const QString &parent, qint64 declaredLength)
{
    httplib::Headers h = auth({{"X-Upload-Content-Type", "application/octet-stream"}});
    if (declaredLength >= 0)
        h.emplace("X-Upload-Content-Length", std::to_string(declaredLength));
    const QJsonObject meta{{u"name"_s, name}, {u"parents"_s, QJsonArray{parent}}};
    auto r = send(
        "POST",
        u"/upload/drive/v3/files?uploadType=resumable&supportsAllDrives=true&fields=id,name,size,md5Checksum"_s,
        h, QJsonDocument(meta).toJson(), "application/json; charset=utf-8");
    if (!r || r->status != 200)
        return {};
    const QUrl location(QString::fromStdString(r->get_header_value("Location")));
    return location.path() + u'?' + location.query(QUrl::FullyEncoded);
}

httplib::Result EmulatorTest::putChunk(const QString &session, const QByteArray &bytes,
                                       qint64 first, const QString &total,
                                       const httplib::Headers &extra)
{
    httplib::Headers h = auth();
    for (const auto &[k, v] : extra)
        h.emplace(k, v);
    const QString range =
        bytes.isEmpty() ? u"bytes */%1"_s.arg(total)
                        : u"bytes %1-%2/%3"_s.arg(first).arg(first + bytes.size() - 1).arg(total);
    h.emplace("Content-Range", range.toStdString());
    return send("PUT", session, h, bytes, "application/octet-stream");
}

QJsonObject EmulatorTest::json(const httplib::Result &result)
{
    if (!result)
        return {};
    return QJsonDocument::fromJson(QByteArray::fromStdString(result->body)).object();
}

QString EmulatorTest::reason(const httplib::Result &result)
{
    return json(result)
        .value(u"error"_s)
        .toObject()
        .value(u"errors"_s)
        .toArray()
        .at(0)
        .toObject()
        .value(u"reason"_s)
        .toString();
}

QString EmulatorTest::enc(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QString EmulatorTest::listTarget(const QString &parent, const QString &fields)
{
    QString escaped = parent;
    escaped.replace(u"\\"_s, u"\\\\"_s).replace(u"'"_s, u"\\'"_s);
    return u"/drive/v3/files?q="_s + enc(u"'"_s + escaped + u"' in parents and trashed = false"_s) +
           u"&pageSize=1000&orderBy="_s + enc(u"folder,name_natural"_s) +
           u"&supportsAllDrives=true&includeItemsFromAllDrives=true"_s +
           (fields.isEmpty() ? QString() : u"&fields="_s + enc(fields));
}

QJsonValue at(const QJsonValue &value, const char *path)
{
    QJsonValue v = value;
    for (const QByteArray &key : QByteArray(path).split('.')) {
        bool isIndex = false;
        const int index = key.toInt(&isIndex);
        v = isIndex ? v.toArray().at(index) : v.toObject().value(QString::fromLatin1(key));
    }
    return v;
}

QByteArray pattern(qint64 size)
{
    QByteArray out(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        out[i] = char((i * 7 + i / 251) & 0xff);
    return out;
}

QStringList requestLines(const QList<RequestRecord> &records)
{
    QStringList out;
    for (const RequestRecord &r : records)
        out.append(r.method + u' ' + r.path);
    return out;
}

} // namespace Tarnwick::Emulator::Testing
