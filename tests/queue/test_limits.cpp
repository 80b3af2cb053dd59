// The queue against Google's limits as the emulator applies them: budgets and refusals slow the
// account instead of failing files, a full Drive or the day's cap pauses the uploads with one
// message, and a download's content request comes back from every answer Google says to retry.
// Every test checks that nothing is lost or made twice (SHA-256 of every file, every item once).
#include "queuetesting.h"
#include "support/qtprinters.h"
#include "support/testsupport.h"

#include "async/runsync.h"
#include "drive/driveclient.h"
#include "drive/drivepacer.h"
#include "transfer/transferqueue.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace Tarnwick;
using namespace Tarnwick::Testing;
using Emulator::FaultRule;
using Emulator::LimitSettings;
using State = TransferState;

namespace {

class Limits : public QueueTest
{
protected:
    // A local folder `name` of `count` files of `size` bytes, in subfolders of ten.
    QString localFolder(const QString &name, int count, qint64 size, quint64 seed = 0)
    {
        const QString root = local(name);
        for (int i = 0; i < count; ++i)
            writeFile(root + u"/d%1/f%2.bin"_s.arg(i / 10).arg(i, 3, 10, QChar(u'0')),
                      bytes(size, seed + quint64(i)));
        return root;
    }
    QString driveChild(const QString &name) const
    {
        return emulator.findChild(emulator.rootFolderId(account.email), name);
    }
    qint64 refused(const QString &kind) const
    {
        return emulator.limitCounters()
            .value("refused"_L1)
            .toObject()
            .value(kind)
            .toInteger();
    }
    bool reachesSoon(const QUuid &id, State state, std::chrono::milliseconds ceiling)
    {
        return waitUntil(
            [&] {
                const Transfer *t = transfer(id);
                return t && t->state == state;
            },
            ceiling);
    }
};

} // namespace

TEST_F(Limits, FolderUploadsUnderATightWriteBudgetEndWithEveryFileOnceSharingOnePacer)
{
    LimitSettings limits;
    limits.writesPerSecond = 150;
    limits.writeBurst = 10;
    emulator.setLimits(limits);

    // One big folder, then five more beside it: six transfers share the account's budget.
    const QString big = localFolder(u"Ảnh"_s, 200, 700);
    QStringList small;
    for (int i = 0; i < 5; ++i)
        small.append(localFolder(u"Nhóm %1"_s.arg(i), 12, 500, quint64(1000 + 100 * i)));
    upload(QStringList{big} + small);
    for (int row = 0; row < 6; ++row)
        ASSERT_TRUE(reachesSoon(idAt(row), State::Done, 60s))
            << "row " << row << ": " << at(row).detail.toStdString();

    EXPECT_GT(refused(u"writeRate"_s), 0) << "the budget never pushed back";
    EXPECT_EQ(driveTree(driveChild(u"Ảnh"_s)), localTree(big));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(driveTree(driveChild(u"Nhóm %1"_s.arg(i))), localTree(small[i]));
    // Refusals slowed the whole account, and they failed nothing.
    EXPECT_TRUE(drive().pacer().rate(DrivePacer::Kind::Write).has_value());
    for (int row = 0; row < 6; ++row)
        EXPECT_TRUE(at(row).detail == u"Hoàn tất") << at(row).detail.toStdString();
}

TEST_F(Limits, ARetryAfterIsHonouredToTheSecondAndADownloadComesBackFromEveryRetryableAnswer)
{
    const qint64 size = 600 * 1024;
    struct Answer
    {
        const char *what;
        FaultRule rule;
    };
    FaultRule json429 = FaultRule::respondError(429, u"rateLimitExceeded"_s, u"Rate Limit Exceeded"_s);
    json429.headers.append(qMakePair(QByteArray("Retry-After"), QByteArray("7")));
    const QList<Answer> answers{
        {"429 with Retry-After", json429},
        {"429 as a page", FaultRule::respondHtml(429)},
        {"503", FaultRule::respond(503)},
        {"500", FaultRule::respondError(500, u"backendError"_s, u"Backend Error"_s)},
        {"502 as a page", FaultRule::respondHtml(502)},
    };
    QDir(localDir.path()).mkdir(u"in"_s);
    int n = 0;
    for (const Answer &answer : answers) {
        SCOPED_TRACE(answer.what);
        const QString name = u"f%1.bin"_s.arg(n);
        const QString id =
            emulator.createFile(account.email, name, bytes(size, quint64(50 + n)));
        ++n;
        // Some bytes come, the connection breaks, and the next request meets the answer.
        FaultRule cut = FaultRule::resetResponseAfter(200 * 1024, u"GET"_s,
                                                     u"^/drive/v3/files/"_s + id + u'$');
        cut.query = u"alt=media"_s;
        emulator.addFault(cut);
        FaultRule refusal = answer.rule;
        refusal.method = u"GET"_s;
        refusal.path = u"^/drive/v3/files/"_s + id + u'$';
        refusal.query = u"alt=media"_s;
        refusal.skip = 1;
        emulator.addFault(refusal);
        clock.clearRequestedDelays();

        download({driveFile(id)}, local(u"in"_s));
        const QUuid transfer = transfers->queue().transfers().last().id;
        ASSERT_TRUE(reaches(transfer, State::Done)) << this->transfer(transfer)->detail.toStdString();
        EXPECT_EQ(sha256OfFile(local(u"in/"_s + name)), emulator.contentSha256(id));
        const QList<Emulator::RequestRecord> asks = mediaRequests(id);
        ASSERT_EQ(asks.size(), 3);
        // The answer came after some bytes: both later requests take up where the part file ends.
        const QString range = asks[1].header(u"range"_s);
        EXPECT_TRUE(range.startsWith(u"bytes="_s) && range != u"bytes=0-"_s) << range.toStdString();
        EXPECT_EQ(asks[2].header(u"range"_s), range);
        if (answer.rule.headers.isEmpty())
            continue;
        // Google asked for seven seconds: the retry waits exactly that, not the shorter backoff.
        EXPECT_TRUE(clock.requestedDelays().contains(7000ms));
    }
}

TEST_F(Limits, AFullDriveOrTheDailyCapPausesEveryUploadWithOneMessageAndResumeSendsOnlyTheRest)
{
    struct Case
    {
        const char *what;
        std::function<void()> fill;
        std::function<void()> free;
        QString says;
    };
    const qint64 size = 40 * 1024;
    const QList<Case> cases{
        {"full Drive",
         [&] {
             emulator.setQuota(account.email, emulator.usage(account.email) + 7 * (size + 1024));
         },
         [&] { emulator.setQuota(account.email, std::nullopt); },
         u"Google Drive đã hết dung lượng lưu trữ. Các tác vụ tải lên đã tạm dừng, những file "
         u"đã tải lên vẫn được giữ. Hãy giải phóng dung lượng rồi bấm Tiếp tục."_s},
        {"daily cap",
         [&] {
             LimitSettings limits;
             // Multipart bodies carry their metadata too.
             limits.dailyUploadBytes = 7 * (size + 1024);
             emulator.setLimits(limits);
         },
         [&] { emulator.advanceClock(24h); },
         u"Tài khoản Google đã tải lên hết lượng cho phép trong ngày. Các tác vụ tải lên đã tạm "
         u"dừng, những file đã tải lên vẫn được giữ. Hãy bấm Tiếp tục vào ngày mai."_s},
    };
    int round = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        // Twelve files, room for seven: the next day has room for the rest.
        const QString root = localFolder(u"Hồ sơ %1"_s.arg(round), 12, size, quint64(round * 100));
        // Five slow downloads take five of the six slots: the folder runs, a second upload waits
        // behind it and is held as well, and the downloads go on.
        QList<DriveFile> downloads;
        for (int i = 0; i < 5; ++i) {
            const QString id = emulator.createFile(account.email, u"về%1-%2.bin"_s.arg(round).arg(i),
                                                   bytes(200 * 1024, quint64(9000 + 10 * round + i)));
            throttleMedia(id, 400 * 1024);
            downloads.append(driveFile(id));
        }
        c.fill();
        const QString other = local(u"khác%1.bin"_s.arg(round));
        writeFile(other, bytes(size, quint64(7000 + round)));
        QSignalSpy told(transfers, &Transfers::failed);
        const qsizetype first = transfers->queue().transfers().size();
        download(downloads, localDir.path());
        upload({root, other});
        const QUuid folder = idAt(first + 5), single = idAt(first + 6);
        EXPECT_EQ(transfer(single)->state, State::Waiting);

        ASSERT_TRUE(reaches(folder, State::Paused)) << transfer(folder)->detail.toStdString();
        ASSERT_TRUE(reaches(single, State::Paused)) << transfer(single)->detail.toStdString();
        for (int i = 0; i < 5; ++i)
            ASSERT_TRUE(reaches(idAt(first + i), State::Done));
        ASSERT_TRUE(waitUntil([&] { return transfers->queue().activeRuns() == 0; }));
        ASSERT_EQ(told.size(), 1) << "one message, not one per file";
        EXPECT_EQ(told.first().first().toString(), c.says);
        EXPECT_FALSE(transfer(folder)->heldBecause.isEmpty());
        EXPECT_TRUE(transfers->queue().checkpoint(folder).has_value());
        const qsizetype kept = transfers->queue().checkpoint(folder)->finished.size();
        EXPECT_GT(kept, 0);
        EXPECT_LT(kept, 12);

        c.free();
        transfers->resumeAllPaused();
        ASSERT_TRUE(reaches(folder, State::Done)) << transfer(folder)->detail.toStdString();
        ASSERT_TRUE(reaches(single, State::Done)) << transfer(single)->detail.toStdString();
        EXPECT_EQ(driveTree(driveChild(u"Hồ sơ %1"_s.arg(round))), localTree(root));
        EXPECT_EQ(emulator.contentSha256(driveChild(u"khác%1.bin"_s.arg(round))),
                  sha256OfFile(other));
        EXPECT_EQ(told.size(), 1) << "nothing more to tell after the resume";
        emulator.resetLimits();
        ++round;
    }
}

TEST_F(Limits, ARateLimitWhileBrowsingSaysSoOnceAndTryAgainLists)
{
    useModel();
    const QString folder = emulator.createFolder(account.email, u"Dự án"_s);
    answerOnce(403,
               R"({"error":{"code":403,"message":"User rate limit exceeded.","errors":[{"domain":)"
               R"("usageLimits","reason":"userRateLimitExceeded","message":"User rate limit )"
               R"(exceeded."}]}})",
               u"GET"_s, u"^/drive/v3/files$"_s);
    const qsizetype before = requests(u"GET"_s, u"^/drive/v3/files$"_s).size();
    QSignalSpy shown(&model->cloud(), &DriveBrowser::cloudLoadErrorChanged);
    runSync(model->cloud().refreshCloud());
    EXPECT_EQ(model->cloud().cloudLoadError(), u"Google đang giới hạn lượt truy cập. Hãy thử lại sau.");
    EXPECT_EQ(shown.size(), 1);
    // A person is watching: no silent retries behind the message.
    EXPECT_EQ(requests(u"GET"_s, u"^/drive/v3/files$"_s).size(), before + 1);

    runSync(model->cloud().refreshCloud());
    EXPECT_FALSE(model->cloud().cloudLoadError().has_value());
    EXPECT_TRUE(names(model->cloud().cloudFiles()).contains(u"Dự án"_s)) << folder.toStdString();
}
