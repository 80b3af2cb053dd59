// A client with retries on, as the transfer engine uses it, against the emulator's faults: the
// requests that may be sent twice come back from cut connections and busy answers after the
// uploads' waits, never make a second item, give up after six attempts, and stop inside a wait.
#include "transfertesting.h"

#include "drive/decodingerror.h"
#include "records/errors.h"
#include "support/lostanswer.h"
#include "support/testsupport.h"

#include <QRegularExpression>
#include <QSet>

#include <stop_token>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace Tarnwick;
using namespace Tarnwick::Emulator;

namespace {

using Waits = QList<std::chrono::milliseconds>;

const QString filesPath = u"^/drive/v3/files$"_s;
const QString generatePath = u"^/drive/v3/files/generateIds$"_s;

class Retries : public Testing::TransferTest
{
protected:
    Retries() { client.setRetryingTransientFailures(true); }

    QString folder = emulator.createFolder(account.email, u"Đích"_s);

    // The connection drops once the request is in: a create takes effect and its answer is lost.
    int cut(const QString &method, const QString &path, const QString &query = {}, int times = 1,
            int skip = 0)
    {
        return emulator.addFault(Testing::lostAnswer(method, path, query, times, skip));
    }
    int answer(FaultRule rule, const QString &method, const QString &path, int times = 1)
    {
        rule.method = method;
        rule.path = path;
        rule.times = times;
        return emulator.addFault(rule);
    }
    qsizetype count(const QString &method, const QString &path) const
    {
        const QRegularExpression pattern(path);
        qsizetype n = 0;
        for (const auto &r : requests())
            n += r.method == method && pattern.match(r.path).hasMatch();
        return n;
    }
};

// Stops the operation the moment it asks for a retry wait.
class StoppingClock final : public Clock
{
public:
    std::chrono::milliseconds realDuration(std::chrono::milliseconds named) override
    {
        asked.append(named);
        stop.request_stop();
        return named;
    }
    std::stop_source stop;
    Waits asked;
};

} // namespace

TEST_F(Retries, ReadsAndReservationsComeBackFromCutsAndBusyAnswers)
{
    answer(FaultRule::respond(503), u"GET"_s, generatePath);
    cut(u"GET"_s, generatePath, {}, 1, 1);
    const QStringList ids = run(client.generateIds(3));
    EXPECT_EQ(QSet<QString>(ids.begin(), ids.end()).size(), 3);
    EXPECT_EQ(waits(), Waits({2s, 4s}));


    // The second page of a listing is cut: it is asked again with its own token, and every item
    // comes once.
    emulator.setListingPages(false, 1);
    const QString big = emulator.createFolder(account.email, u"Nhiều"_s, folder);
    QStringList expected;
    for (int i = 0; i < 501; ++i)
        expected.append(
            emulator.createFile(account.email, u"f%1"_s.arg(i, 3, 10, QChar(u'0')), "x", big));
    clearRequests();
    clock.clearRequestedDelays();
    cut(u"GET"_s, filesPath, u"pageToken="_s);
    QStringList listed;
    for (const DriveFile &f : run(client.list(big, false)))
        listed.append(f.id);
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(waits(), Waits({2s}));
    QStringList tokens;
    for (const auto &r : requests())
        if (r.status == 200)
            tokens.append(r.queryValue(u"pageToken"_s));
    ASSERT_EQ(tokens.size(), 2) << "one answered request per page";
    EXPECT_TRUE(tokens[0].isEmpty());

    // A busy answer is one of Google's limits: the account's backoff, a second and some jitter.
    clock.clearRequestedDelays();
    const QString item = emulator.createFile(account.email, u"a.txt"_s, "abc", folder);
    answer(FaultRule::respondHtml(429), u"GET"_s, u"^/drive/v3/files/"_s + item + u'$');
    EXPECT_EQ(run(client.file(item)).name, u"a.txt"_s);
    ASSERT_FALSE(waits().isEmpty());
    EXPECT_GE(waits().first(), 1s);
    EXPECT_LT(waits().first(), 2s);
}

TEST_F(Retries, CreatesWithAReservedIdAreRetriedAndNeverMadeTwice)
{
    const QStringList ids = run(client.generateIds(3));

    // Made, answer lost: the repeat is told the ID is taken, and the folder made is the result.
    cut(u"POST"_s, filesPath);
    const DriveFile lost = run(client.createFolder(u"Ảnh"_s, folder, {}, ids[0]));
    EXPECT_EQ(lost.id, ids[0]);
    EXPECT_TRUE(lost.isFolder());

    // Refused before it took effect: the repeat makes it.
    answer(FaultRule::respond(503), u"POST"_s, filesPath);
    EXPECT_EQ(run(client.createFolder(u"Nhạc"_s, folder, {}, ids[1])).id, ids[1]);

    // Made, then answered with a server error.
    FaultRule late = FaultRule::respond(502);
    late.afterHandler = true;
    answer(late, u"POST"_s, filesPath);
    EXPECT_EQ(run(client.createFolder(u"Phim"_s, folder, {}, ids[2])).id, ids[2]);
    EXPECT_EQ(waits(), Waits({2s, 2s, 2s}));

    // Without a reserved ID a repeat could make a second folder: the failure ends it at once.
    clearRequests();
    clock.clearRequestedDelays();
    answer(FaultRule::respond(503), u"POST"_s, filesPath);
    EXPECT_EQ(failure<DriveAPIError>(client.createFolder(u"Khác"_s, folder)).status(), 503);
    EXPECT_EQ(count(u"POST"_s, filesPath), 1);
    EXPECT_TRUE(waits().isEmpty());

    QStringList names;
    for (const QString &id : emulator.childIds(folder))
        names.append(emulator.itemMetadata(id)->value(u"name"_s).toString());
    names.sort();
    EXPECT_EQ(names, (QStringList{u"Nhạc"_s, u"Phim"_s, u"Ảnh"_s}));
}

TEST_F(Retries, AnUploadSessionOpenIsRetriedAndItsFileMadeOnce)
{
    const QByteArray bytes = contents(6 * 1024 * 1024, 4);
    const QString local = Testing::writeFile(path(u"lớn.bin"_s), bytes);
    const QString id = run(client.generateIds(1)).value(0);
    cut(u"POST"_s, u"^/upload/"_s, u"uploadType=resumable"_s);
    QList<UploadSession> sessions;
    const DriveFile item = run(client.upload(
        local, folder, {}, [&](const UploadSession &s) { sessions.append(s); }, recorder(), {},
        id));
    EXPECT_EQ(item.id, id);
    EXPECT_EQ(sessions.size(), 1) << "only the open that was answered hands a session out";
    EXPECT_EQ(emulator.childIds(folder), QStringList{id});
    EXPECT_EQ(emulator.contentSha256(id), sha256(bytes));
    EXPECT_EQ(waits(), Waits({2s}));
}

TEST_F(Retries, ARequestFailingEveryTimeEndsWithItsErrorAfterSixAttempts)
{
    const Waits schedule{2s, 4s, 8s, 16s, 16s};
    const int down = answer(FaultRule::respond(503), u"GET"_s, generatePath, 0);
    const DriveAPIError busy = failure<DriveAPIError>(client.generateIds(1));
    EXPECT_EQ(busy.status(), 503);
    EXPECT_FALSE(busy.message().isEmpty());
    EXPECT_EQ(count(u"GET"_s, generatePath), 6);
    EXPECT_EQ(waits(), schedule);
    emulator.removeFault(down);

    clock.clearRequestedDelays();
    const int cutting = cut(u"GET"_s, filesPath, {}, 0);
    EXPECT_FALSE(failure<NetworkError>(client.list(folder, false)).description().isEmpty());
    EXPECT_EQ(waits(), schedule);
    emulator.removeFault(cutting);

    // What sending again cannot mend ends at once.
    clearRequests();
    clock.clearRequestedDelays();
    answer(FaultRule::respondError(403, u"insufficientFilePermissions"_s, u"No."_s), u"GET"_s,
           filesPath);
    EXPECT_EQ(failure<DriveAPIError>(client.list(folder, false)).message(),
              u"Không có quyền thực hiện thao tác này. Kiểm tra quyền thư mục và Google Drive "
              "API."_s);
    EXPECT_EQ(failure<DriveAPIError>(client.file(u"missing"_s)).status(), 404);
    answerOnce(200, R"({"ids":[17]})");
    failure<DecodingError>(client.generateIds(1));
    EXPECT_EQ(requests().size(), 3);
    EXPECT_TRUE(waits().isEmpty());

    // A client without retries (browsing) fails on the first busy answer.
    DriveClient browsing = client;
    browsing.setRetryingTransientFailures(false);
    answer(FaultRule::respond(503), u"GET"_s, generatePath);
    EXPECT_EQ(failure<DriveAPIError>(browsing.generateIds(1)).status(), 503);
    EXPECT_TRUE(waits().isEmpty());
}

TEST_F(Retries, AStopDuringAWaitEndsTheRequestAndSendsNothingMore)
{
    StoppingClock stopping;
    Clock::install(&stopping);
    answer(FaultRule::respond(503), u"GET"_s, generatePath, 0);
    EXPECT_THROW(run(client.generateIds(1, stopping.stop.get_token())), Cancelled);
    Clock::install(&clock);
    EXPECT_EQ(stopping.asked, Waits({2s}));
    EXPECT_EQ(count(u"GET"_s, generatePath), 1);
}
