// Uploads against the emulator: which form each size takes, the exact requests, resuming kept
// sessions, retries with their waits, and the faults a real network adds.
#include "transfertesting.h"

#include "drive/drivepacer.h"

#include "records/errors.h"
#include "support/testsupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTimer>

#include <stop_token>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace Tarnwick;
using namespace Tarnwick::Emulator;

namespace {

constexpr qint64 MiB = 1 << 20;

class Uploads : public Testing::TransferTest
{
protected:
    QString folder = emulator.createFolder(account.email, u"Tải lên"_s);
    QList<UploadSession> sessions;

    DriveClient::SessionHandler keepSession()
    {
        return [this](const UploadSession &s) { sessions.append(s); };
    }
    // Uploads a new local file with these bytes and checks that Drive holds exactly them.
    DriveFile uploadBytes(const QString &name, const QByteArray &bytes,
                          std::optional<UploadSession> resume = {})
    {
        const QString local = Testing::writeFile(path(name), bytes);
        const DriveFile item = run(client.upload(local, folder, resume, keepSession(), recorder()));
        EXPECT_EQ(emulator.contentSha256(item.id), sha256(bytes)) << name.toStdString();
        EXPECT_EQ(item.bytes(), bytes.size());
        return item;
    }
    QStringList contentRanges() const
    {
        QStringList out;
        for (const auto &r : uploadRequests())
            if (r.method == u"PUT"_s)
                out.append(r.header(u"content-range"_s));
        return out;
    }
    // Whether every report moved forward: none went back, none said the same again.
    bool reportsRiseStrictly() const
    {
        for (qsizetype i = 1; i < reports.size(); ++i)
            if (reports[i].first <= reports[i - 1].first)
                return false;
        return !reports.isEmpty();
    }
    // A 308 status answer holding the first `held` bytes (no Range header when held is 0).
    static FaultRule heldBytes(qint64 held)
    {
        FaultRule rule = FaultRule::respond(308);
        rule.body = "";
        if (held > 0)
            rule.headers = {{"Range", "bytes=0-" + QByteArray::number(held - 1)}};
        return rule;
    }
    // Fires on the n-th PUT to the upload endpoint (0-based) only.
    int onPut(FaultRule rule, int n)
    {
        rule.method = u"PUT"_s;
        rule.path = u"^/upload/"_s;
        rule.skip = n;
        return emulator.addFault(rule);
    }
};

TEST_F(Uploads, EmptyFileIsOneResumablePutOfBytesStarSlashZero)
{
    const DriveFile item = uploadBytes(u"trống.txt"_s, {});
    EXPECT_EQ(item.name, u"trống.txt"_s);
    EXPECT_EQ(item.size, u"0"_s);
    EXPECT_EQ(contentRanges(), QStringList{u"bytes */0"_s});
    EXPECT_EQ(sessions.size(), 1);
    const auto log = uploadRequests();
    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(log[0].queryValue(u"uploadType"_s), u"resumable"_s);
    EXPECT_EQ(log[0].header(u"x-upload-content-length"_s), u"0"_s);
    EXPECT_EQ(log[0].header(u"x-upload-content-type"_s), u"text/plain"_s);
    EXPECT_EQ(log[1].header(u"content-type"_s), u"text/plain"_s);
}

TEST_F(Uploads, SizeDecidesBetweenMultipartOneWholePutAndChunks)
{
    const DriveFile small = uploadBytes(u"a.pdf"_s, contents(5'242'880, 1));
    auto log = uploadRequests();
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0].method, u"POST"_s);
    EXPECT_EQ(log[0].queryValue(u"uploadType"_s), u"multipart"_s);
    EXPECT_EQ(log[0].queryValue(u"supportsAllDrives"_s), u"true"_s);
    EXPECT_EQ(small.mimeType, u"application/pdf"_s);
    // The exact body: both parts, CRLF line ends, the closing delimiter.
    const auto boundary = QRegularExpression(u"^multipart/related; boundary=(tarnwick-[0-9A-F]{8}-"
                                             "[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})$"_s)
                              .match(log[0].header(u"content-type"_s));
    ASSERT_TRUE(boundary.hasMatch()) << log[0].header(u"content-type"_s).toStdString();
    const QByteArray b = boundary.captured(1).toLatin1();
    const qint64 metadata =
        QJsonDocument(QJsonObject{{"name"_L1, u"a.pdf"_s}, {"parents"_L1, QJsonArray{folder}}})
            .toJson(QJsonDocument::Compact)
            .size();
    const QByteArray head = "--" + b + "\r\nContent-Type: application/json; charset=UTF-8\r\n\r\n";
    const QByteArray middle = "\r\n--" + b + "\r\nContent-Type: application/pdf\r\n\r\n";
    const QByteArray end = "\r\n--" + b + "--\r\n";
    EXPECT_EQ(log[0].bodyLength, head.size() + metadata + middle.size() + 5'242'880 + end.size());
    EXPECT_TRUE(reportsRiseStrictly());
    EXPECT_EQ(reports.last(), Report(5'242'880, 5'242'880));
    EXPECT_EQ(sessions.size(), 0);

    clearRequests();
    reports.clear();
    uploadBytes(u"b"_s, contents(5'242'881, 2));
    EXPECT_TRUE(reportsRiseStrictly());
    log = uploadRequests();
    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(log[0].header(u"x-upload-content-type"_s), u"application/octet-stream"_s);
    EXPECT_EQ(log[0].header(u"x-upload-content-length"_s), u"5242881"_s);
    EXPECT_EQ(contentRanges(), QStringList{u"bytes 0-5242880/5242881"_s});
    EXPECT_EQ(log[1].bodyLength, 5'242'881);

    clearRequests();
    reports.clear();
    uploadBytes(u"c.bin"_s, contents(8'388'609, 3));
    EXPECT_EQ(contentRanges(),
              QStringList({u"bytes 0-8388607/8388609"_s, u"bytes 8388608-8388608/8388609"_s}));
    // The end of the first chunk, its 308 and the answer's arrival are one report, not three.
    EXPECT_TRUE(reportsRiseStrictly());
    EXPECT_EQ(reports.last(), Report(8'388'609, 8'388'609));
    EXPECT_EQ(sessions.size(), 2);
    EXPECT_EQ(sessions[1].size, 8'388'609);
    EXPECT_TRUE(sessions[1].url.toString().startsWith(emulator.baseUrl() + u"/upload/"_s));
}

TEST_F(Uploads, KeptSessionContinuesFromTheConfirmedByteWithoutANewSession)
{
    const QByteArray bytes = contents(9 * MiB, 4);
    const QString local = Testing::writeFile(path(u"phim.mkv"_s), bytes);
    // The first run dies on its second chunk with an answer that is not retried.
    onPut(FaultRule::respond(400), 1);
    failure<DriveAPIError>(client.upload(local, folder, {}, keepSession(), {}));
    ASSERT_EQ(sessions.size(), 1);

    clearRequests();
    const DriveFile item =
        run(client.upload(local, folder, sessions[0], keepSession(), recorder()));
    EXPECT_EQ(emulator.contentSha256(item.id), sha256(bytes));
    EXPECT_EQ(sessions.size(), 1) << "a continued session is not handed out again";
    EXPECT_EQ(contentRanges(),
              QStringList({u"bytes */9437184"_s, u"bytes 8388608-9437183/9437184"_s}));
    EXPECT_EQ(reports.first().first, 8'388'608);
}

TEST_F(Uploads, KeptSessionThatNoLongerAppliesIsReplaced)
{
    const QByteArray bytes = contents(6 * MiB, 5);
    const QString local = Testing::writeFile(path(u"x.bin"_s), bytes);
    const QDateTime modified = QFileInfo(local).lastModified().toUTC();
    const QUrl url(emulator.baseUrl() +
                   u"/upload/drive/v3/files?uploadType=resumable&upload_id=old"_s);

    // Modified one second later than kept: no status query at all.
    run(client.upload(local, folder, UploadSession{url, bytes.size(), modified.addSecs(1)},
                      keepSession(), {}));
    EXPECT_EQ(uploadRequests().first().method, u"POST"_s);
    EXPECT_EQ(sessions.size(), 1);

    // Google no longer knows the session (unknown or expired).
    for (const int status : {404, 410}) {
        clearRequests();
        const int gone = answerOnce(status, {}, u"PUT"_s);
        const DriveFile item = run(client.upload(
            local, folder, UploadSession{url, bytes.size(), modified}, keepSession(), {}));
        EXPECT_EQ(emulator.faultFired(gone), 1);
        EXPECT_EQ(contentRanges().first(), u"bytes */6291456"_s);
        EXPECT_EQ(uploadRequests()[1].method, u"POST"_s) << status;
        EXPECT_EQ(emulator.contentSha256(item.id), sha256(bytes));
    }
    EXPECT_EQ(sessions.size(), 3);

    // A session URL on another host is never asked (it would get the token).
    clearRequests();
    run(client.upload(
        local, folder,
        UploadSession{QUrl(u"https://uploads.example.com/s?upload_id=1"_s), bytes.size(), modified},
        keepSession(), {}));
    EXPECT_EQ(uploadRequests().first().method, u"POST"_s);
    EXPECT_EQ(sessions.size(), 4);
}

TEST_F(Uploads, SessionOutsideTheApiEndpointIsNeverUsed)
{
    const QString local = Testing::writeFile(path(u"l.bin"_s), contents(6 * MiB, 13));
    for (const QByteArray &location :
         {QByteArray("https://uploads.example.com/upload?upload_id=1"),
          emulator.baseUrl().replace(u"http:"_s, u"https:"_s).toLatin1() + "/upload?upload_id=1",
          QByteArray("/upload/drive/v3/files?upload_id=1"), QByteArray()}) {
        FaultRule opened = FaultRule::respond(200, u"POST"_s, u"^/upload/"_s);
        opened.body = "{}";
        if (!location.isEmpty())
            opened.headers = {{"Location", location}};
        emulator.addFault(opened);
        EXPECT_EQ(
            failure<TarnwickError>(client.upload(local, folder, {}, keepSession(), {})).message(),
            u"Google chưa tạo được phiên tải lên hợp lệ."_s);
    }
    EXPECT_TRUE(sessions.isEmpty());
    EXPECT_TRUE(contentRanges().isEmpty());
}

TEST_F(Uploads, StatusWithRangeResumesRightAfterTheConfirmedBytes)
{
    const QString local = Testing::writeFile(path(u"n.txt"_s), contents(5000, 6));
    const QUrl url(emulator.baseUrl() +
                   u"/upload/drive/v3/files?uploadType=resumable&upload_id=x"_s);
    FaultRule status = FaultRule::respond(308, u"PUT"_s);
    status.headers = {{"Range", "bytes=0-999"}};
    emulator.addFault(status);
    FaultRule done = FaultRule::respond(200, u"PUT"_s);
    done.body = R"({"id":"done1","name":"n.txt","size":"5000"})";
    done.skip = 1;
    emulator.addFault(done);
    const DriveFile item = run(client.upload(
        local, folder, UploadSession{url, 5000, QFileInfo(local).lastModified().toUTC()},
        keepSession(), recorder()));
    EXPECT_EQ(item.id, u"done1"_s);
    EXPECT_EQ(contentRanges(), QStringList({u"bytes */5000"_s, u"bytes 1000-4999/5000"_s}));
    EXPECT_EQ(reports.first(), Report(1000, 5000));
}

// Status answers that leave nothing sensible to send: they end the upload without a retry.
TEST_F(Uploads, StatusAnswersThatCannotBeContinuedEndAtOnce)
{
    const QString local = Testing::writeFile(path(u"h.bin"_s), contents(6 * MiB, 14));
    const qint64 total = 6 * MiB;
    const QUrl url(emulator.baseUrl() +
                   u"/upload/drive/v3/files?uploadType=resumable&upload_id=kept"_s);
    const UploadSession kept{url, total, QFileInfo(local).lastModified().toUTC()};
    const QString unfinished = u"Google chưa xác nhận hoàn tất file."_s;

    // A kept session holding every byte but no item: nothing is left to send.
    onPut(heldBytes(total), 0);
    EXPECT_EQ(
        failure<TarnwickError>(client.upload(local, folder, kept, keepSession(), {})).message(),
        unfinished);
    EXPECT_EQ(contentRanges(), QStringList{u"bytes */6291456"_s});

    // The same answer to the status query after a failed send.
    emulator.clearFaults();
    clearRequests();
    onPut(FaultRule::respond(503), 0);
    onPut(heldBytes(total), 1);
    EXPECT_EQ(failure<TarnwickError>(client.upload(local, folder, {}, {}, {})).message(),
              unfinished);
    EXPECT_EQ(contentRanges(), QStringList({u"bytes 0-6291455/6291456"_s, u"bytes */6291456"_s}));
    EXPECT_EQ(waits(), QList<std::chrono::milliseconds>{2s});

    // A Range that does not start at byte 0.
    emulator.clearFaults();
    clearRequests();
    clock.clearRequestedDelays();
    FaultRule odd = heldBytes(0);
    odd.headers = {{"Range", "bytes=100-199"}};
    onPut(odd, 0);
    EXPECT_EQ(failure<TarnwickError>(client.upload(local, folder, {}, {}, {})).message(),
              u"Google trả về tiến trình tải lên không hợp lệ."_s);
    EXPECT_EQ(contentRanges().size(), 1);
    EXPECT_TRUE(waits().isEmpty());
}

TEST_F(Uploads, ServerErrorsAreRetriedAfterTwoFourEightSecondsAskingTheStatusEachTime)
{
    const QByteArray bytes = contents(8 * MiB + 1000, 7);
    onPut(FaultRule::respond(503), 1);
    onPut(FaultRule::respondHtml(500), 3);
    onPut(FaultRule::respond(502), 5);
    uploadBytes(u"r.bin"_s, bytes);

    EXPECT_EQ(waits(), QList<std::chrono::milliseconds>({2s, 4s, 8s}));
    const QString tail = u"bytes 8388608-8389607/8389608"_s;
    const QString ask = u"bytes */8389608"_s;
    EXPECT_EQ(contentRanges(),
              QStringList({u"bytes 0-8388607/8389608"_s, tail, ask, tail, ask, tail, ask, tail}));
    EXPECT_TRUE(progressIsMonotonic());
    EXPECT_EQ(reports.last(), Report(bytes.size(), bytes.size()));
}

// Google's rate limits use no attempt: eight refusals of the chunk in a row, more than a server
// error gets, still end in the whole file, after a backoff that doubles up to its ceiling.
TEST_F(Uploads, RateLimitedChunksWaitTheBackoffWithoutUsingAttempts)
{
    const QByteArray bytes = contents(6 * MiB, 9);
    for (int n = 0; n < 16; n += 2)
        onPut(FaultRule::respondHtml(429), n);
    uploadBytes(u"l.bin"_s, bytes);
    const QList<std::chrono::milliseconds> all = waits();
    ASSERT_GE(all.size(), 8);
    const auto longest = *std::max_element(all.begin(), all.end());
    EXPECT_GE(longest, DrivePacer::longestBackoff);
    EXPECT_LT(longest, DrivePacer::longestBackoff + 1s);
    EXPECT_EQ(reports.last(), Report(bytes.size(), bytes.size()));
}

TEST_F(Uploads, FailuresThatRetryingCannotFixEndAtOnce)
{
    const QString local = Testing::writeFile(path(u"f.bin"_s), contents(6 * MiB, 8));
    onPut(FaultRule::respondError(403, u"insufficientFilePermissions"_s, u"No."_s), 0);
    const DriveAPIError denied = failure<DriveAPIError>(client.upload(local, folder, {}, {}, {}));
    EXPECT_EQ(denied.message(), u"Không có quyền thực hiện thao tác này. Kiểm tra quyền thư mục "
                                "và Google Drive API."_s);
    EXPECT_TRUE(waits().isEmpty());
    EXPECT_EQ(contentRanges().size(), 1);

    // Six transient failures of the chunk in a row (the status queries between them succeed):
    // five waits, then the last error.
    emulator.clearFaults();
    for (int n = 0; n < 12; n += 2)
        onPut(FaultRule::respond(503), n);
    const DriveAPIError last = failure<DriveAPIError>(client.upload(local, folder, {}, {}, {}));
    EXPECT_EQ(last.status(), 503);
    EXPECT_TRUE(last.retryable());
    EXPECT_EQ(waits(), QList<std::chrono::milliseconds>({2s, 4s, 8s, 16s, 16s}));

    // Status queries failing as well still end after five waits.
    emulator.clearFaults();
    clock.clearRequestedDelays();
    FaultRule down = FaultRule::respond(503, u"PUT"_s);
    down.times = 0;
    emulator.addFault(down);
    failure<DriveAPIError>(client.upload(local, folder, {}, {}, {}));
    EXPECT_EQ(waits(), QList<std::chrono::milliseconds>({2s, 4s, 8s, 16s, 16s}));

    const QString link = path(u"link"_s);
    QFile::link(local, link);
    clearRequests();
    for (const QString &refused : {link, dir.path()})
        EXPECT_EQ(failure<TarnwickError>(client.upload(refused, folder, {}, {}, {})).message(),
                  u"Chỉ tải lên file thông thường; liên kết tượng trưng được bỏ qua."_s);
    EXPECT_TRUE(requests().isEmpty());
}

TEST_F(Uploads, CancellingDuringAWaitSendsNothingMore)
{
    TestClock slow(1.0); // real waits, so the stop lands inside one
    Clock::install(&slow);
    const QString local = Testing::writeFile(path(u"c.bin"_s), contents(6 * MiB, 9));
    onPut(FaultRule::respond(503), 0);
    std::stop_source stop;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &watch, [&] {
        if (!slow.requestedDelays().isEmpty())
            stop.request_stop();
    });
    watch.start(1);
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_THROW(run(client.upload(local, folder, {}, {}, {}, stop.get_token())), Cancelled);
    EXPECT_LT(elapsed.elapsed(), 1500);
    const qsizetype sent = requests().size();
    Testing::waitUntil([] { return false; }, 300ms);
    EXPECT_EQ(requests().size(), sent);
    EXPECT_EQ(contentRanges().size(), 1);
    Clock::install(&clock);
}

TEST_F(Uploads, MultipartFailingTransientlyFallsBackToOneResumableUpload)
{
    FaultRule broken = FaultRule::resetRequestAfter(1000, u"POST"_s, u"^/upload/"_s);
    broken.query = u"uploadType=multipart"_s;
    broken.times = 2; // libcurl sends once more by itself on a kept-alive connection
    emulator.addFault(broken);
    uploadBytes(u"m.txt"_s, contents(300'000, 10));
    EXPECT_EQ(sessions.size(), 1);
    EXPECT_EQ(contentRanges(), QStringList{u"bytes 0-299999/300000"_s});
    EXPECT_TRUE(waits().isEmpty());

    // A rate limit made nothing: the same multipart upload goes again after the wait.
    emulator.clearFaults();
    clearRequests();
    FaultRule limited = FaultRule::respondError(403, u"userRateLimitExceeded"_s,
                                                u"User rate limit exceeded."_s, u"POST"_s);
    limited.query = u"uploadType=multipart"_s;
    emulator.addFault(limited);
    uploadBytes(u"r.txt"_s, contents(1000, 15));
    EXPECT_EQ(sessions.size(), 1);
    EXPECT_EQ(uploadRequests().size(), 2);

    // A refusal is not: no session, no second request.
    clearRequests();
    FaultRule refused = FaultRule::respond(400, u"POST"_s);
    refused.query = u"uploadType=multipart"_s;
    emulator.addFault(refused);
    const QString local = Testing::writeFile(path(u"q.txt"_s), contents(1000, 16));
    EXPECT_EQ(failure<DriveAPIError>(client.upload(local, folder, {}, keepSession(), {})).status(),
              400);
    EXPECT_EQ(sessions.size(), 1);
    EXPECT_EQ(uploadRequests().size(), 1);
}

// What a real network does to a long upload: a dropped connection halfway through a chunk, a
// server that keeps fewer bytes than it was sent, a token that expires between chunks.
TEST_F(Uploads, SurvivesResetsShortKeepsAndAnExpiredToken)
{
    // Twice in the second chunk: libcurl quietly sends a request again once when a kept-alive
    // connection drops.
    FaultRule reset = FaultRule::resetRequestAfter(3 * MiB);
    reset.times = 2;
    onPut(reset, 1);
    onPut(FaultRule::keepFewer(-1), 4);
    onPut(FaultRule::expireToken(), 5);
    const QString fresh = emulator.issueAccessToken(account.email);
    QString current = account.accessToken;
    tokenFor = [&](bool force) { return force ? (current = fresh) : current; };

    uploadBytes(u"long.bin"_s, contents(20 * MiB + 12345, 11));

    // Whether libcurl's own silent resend takes the second reset depends on whether the
    // connection was reused; when it does not, our retry takes it and waits once more.
    const QList<std::chrono::milliseconds> oneWait{2s}, twoWaits{2s, 4s};
    EXPECT_TRUE(waits() == oneWait || waits() == twoWaits);
    EXPECT_EQ(tokenRequests.count(true), 1);
    EXPECT_TRUE(progressIsMonotonic());
    const QString total = u"/20983865"_s;
    // The server kept 3 MiB of the broken chunk in whole 256 KiB units, then half of the next;
    // the last chunk, refused with 401, goes again with the refreshed token.
    EXPECT_EQ(
        contentRanges().mid(3),
        QStringList({u"bytes *"_s + total, u"bytes 11534336-19922943"_s + total,
                     u"bytes 15728640-20983864"_s + total, u"bytes 15728640-20983864"_s + total}));
}

// A 308 whose Range shows that Google kept none of the chunk: the chunk goes again from what the
// Range confirms, counted as a network retry; only a chunk that is never kept ends the upload.
TEST_F(Uploads, AChunkGoogleKeptNoneOfIsSentAgainFromTheConfirmedByte)
{
    const QByteArray bytes = contents(20 * MiB, 21);
    onPut(FaultRule::keepFewer(0), 1);
    uploadBytes(u"none.bin"_s, bytes);
    const QString total = u"/20971520"_s;
    EXPECT_EQ(contentRanges(),
              QStringList({u"bytes 0-8388607"_s + total, u"bytes 8388608-16777215"_s + total,
                           u"bytes 8388608-16777215"_s + total,
                           u"bytes 16777216-20971519"_s + total}));
    EXPECT_EQ(waits(), QList<std::chrono::milliseconds>{2s});
    EXPECT_TRUE(progressIsMonotonic());

    // Kept nothing six times in a row: the upload ends after the five waits.
    clearRequests();
    clock.clearRequestedDelays();
    FaultRule never = FaultRule::keepFewer(0);
    never.times = 0;
    onPut(never, 0);
    const QString local = Testing::writeFile(path(u"never.bin"_s), contents(9 * MiB, 22));
    EXPECT_EQ(failure<TarnwickError>(client.upload(local, folder, {}, {}, {})).message(),
              u"Google chưa xác nhận hoàn tất file. Hãy thử lại."_s);
    EXPECT_EQ(waits(), QList<std::chrono::milliseconds>({2s, 4s, 8s, 16s, 16s}));
    EXPECT_EQ(contentRanges().size(), 6);
}

// A session that Google forgets midway (404 or 410) is replaced once by a new session from byte
// 0; with a reserved ID the file is still made once. A second loss ends the upload in Vietnamese.
TEST_F(Uploads, ASessionLostMidwayStartsOnceMoreWithANewSession)
{
    for (const int status : {404, 410}) {
        SCOPED_TRACE(status);
        emulator.clearFaults();
        clearRequests();
        sessions.clear();
        const QString id = run(client.generateIds(1)).value(0);
        const QString parent = emulator.createFolder(account.email, u"mới %1"_s.arg(status));
        const QByteArray bytes = contents(20 * MiB, 23);
        const QString local = Testing::writeFile(path(u"lost.bin"_s), bytes);
        FaultRule lost = FaultRule::expireSession(u"PUT"_s, u"^/upload/"_s);
        lost.status = status;
        lost.skip = 1;
        emulator.addFault(lost);
        const DriveFile item = run(client.upload(local, parent, {}, keepSession(), {}, {}, id));
        EXPECT_EQ(item.id, id);
        EXPECT_EQ(sessions.size(), 2);
        EXPECT_NE(sessions[0].url, sessions[1].url);
        EXPECT_EQ(emulator.childIds(parent), QStringList{id});
        EXPECT_EQ(emulator.contentSha256(id), sha256(bytes));
        EXPECT_EQ(contentRanges().value(2).section(u'/', 0, 0), u"bytes 0-8388607"_s);

        // Lost again after the new start: the upload ends with the session's message.
        emulator.clearFaults();
        sessions.clear();
        lost.skip = 0;
        lost.times = 0;
        emulator.addFault(lost);
        const DriveAPIError gone = failure<DriveAPIError>(
            client.upload(local, parent, {}, keepSession(), {}, {}, run(client.generateIds(1)).value(0)));
        EXPECT_EQ(gone.status(), status);
        EXPECT_EQ(gone.message(),
                  u"File hoặc thư mục không còn tồn tại, hoặc phiên tải lên đã hết hạn."_s);
        EXPECT_EQ(sessions.size(), 2);
        EXPECT_EQ(emulator.childIds(parent), QStringList{id});
    }
}

TEST_F(Uploads, FileShrinkingWhileSentFailsWithTheChangedFileMessage)
{
    const QString local = Testing::writeFile(path(u"s.bin"_s), contents(12 * MiB, 12));
    emulator.addFault(FaultRule::throttle(8 * MiB, u"PUT"_s));
    auto shrink = [&](qint64 done, qint64) {
        if (done > 0)
            QFile::resize(local, 2 * MiB);
    };
    EXPECT_EQ(failure<TarnwickError>(client.upload(local, folder, {}, {}, shrink)).message(),
              u"File đã thay đổi trong lúc tải lên. Hãy thử lại với bản đã lưu xong."_s);
}

} // namespace
