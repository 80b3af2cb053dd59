#pragma once

#include "driveemulator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>

// Readable QStrings in gtest messages.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace Tarnwick::Emulator::Testing {

// A running emulator with one account, and a plain cpp-httplib client to talk to it.
class EmulatorTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    httplib::Headers auth(const QString &token = {}) const;
    httplib::Headers auth(std::initializer_list<std::pair<std::string, std::string>> extra) const;
    httplib::Result get(const QString &target, const httplib::Headers &headers);
    httplib::Result get(const QString &target) { return get(target, auth()); }
    httplib::Result send(const std::string &method, const QString &target,
                         const httplib::Headers &headers, const QByteArray &body = {},
                         const std::string &contentType = {});
    httplib::Result postJson(const QString &target, const QJsonObject &body);
    httplib::Result patchJson(const QString &target, const QJsonObject &body);

    // Starts a resumable upload into parent and returns the session path and query.
    QString startUpload(const QString &name, const QString &parent, qint64 declaredLength = -1);
    httplib::Result putChunk(const QString &session, const QByteArray &bytes, qint64 first,
                             const QString &total, const httplib::Headers &extra = {});

    static QJsonObject json(const httplib::Result &result);
    static QString reason(const httplib::Result &result);
    static QString enc(const QString &text);
    static QString listTarget(const QString &parent, const QString &fields = {});

    std::unique_ptr<DriveEmulator> emu;
    TestAccount account;
    std::unique_ptr<httplib::Client> client;
};

// The value at a dotted path of keys and array indexes: at(reply, "error.errors.0.reason").
QJsonValue at(const QJsonValue &value, const char *path);

// Test bytes of the given size that repeat no short period, so a misplaced chunk shows.
QByteArray pattern(qint64 size);

// The (method, path and query) a handler saw; the log keeps them in order.
QStringList requestLines(const QList<RequestRecord> &records);

} // namespace Tarnwick::Emulator::Testing
