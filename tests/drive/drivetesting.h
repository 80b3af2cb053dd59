#pragma once

#include "drive/driveclient.h"
#include "driveemulator.h"
#include "async/runsync.h"

#include <QJsonObject>
#include <QMap>
#include <QString>

#include <gtest/gtest.h>

#include <functional>

void PrintTo(const QString &s, std::ostream *os);

namespace Tarnwick::Testing {

// A DriveClient against a fresh in-process emulator with one signed-in account. The token source
// hands out `account.accessToken` unless a test replaces `tokenFor`, and records every call.
class DriveClientTest : public ::testing::Test
{
protected:
    DriveClientTest();
    ~DriveClientTest() override;

    template<typename T> T run(QCoro::Task<T> task) { return runSync(std::move(task)); }

    // The failure of type E the task ends with; a test failure when it ends otherwise.
    template<typename E, typename T> E failure(QCoro::Task<T> task)
    {
        try {
            runSync(std::move(task));
        } catch (const E &e) {
            return e;
        } catch (const std::exception &e) {
            ADD_FAILURE() << "unexpected failure: " << e.what();
            throw;
        }
        ADD_FAILURE() << "the task succeeded";
        throw std::logic_error("no failure");
    }

    using Query = QMap<QString, QString>;

    // The requests the emulator answered since the last clearRequests().
    QList<Emulator::RequestRecord> requests() const { return emulator.requestLog(); }
    void clearRequests() { emulator.clearRequestLog(); }

    // Every query parameter of the request as the server decodes it, from the raw target, which
    // must be fully percent-encoded.
    static Query queryOf(const Emulator::RequestRecord &record);
    // Method, decoded path and the exact set of query parameters.
    static void expectRequest(const Emulator::RequestRecord &record, const QString &method,
                              const QString &path, const Query &query);
    // A JSON body with its content type, compared by its length in compact form (the log keeps
    // no bodies; the tests check their effect on the emulator's state besides).
    static void expectJsonBody(const Emulator::RequestRecord &record, const QJsonObject &body);
    // Answer the next request whose path matches with this status and body.
    int answerOnce(int status, const QByteArray &body, const QString &method = {},
                   const QString &path = {});

    Emulator::DriveEmulator emulator;
    Emulator::TestAccount account;
    QList<bool> tokenRequests; // forceRefresh of every call of the token source
    std::function<QString(bool forceRefresh)> tokenFor;
    DriveClient client;
};

} // namespace Tarnwick::Testing
