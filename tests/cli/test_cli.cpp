// tarnwick-cli as a user runs it, against tarnwick-drive-emulator in its own process: trees up
// and back compared by SHA-256, a kill -9 in the middle of a tree and the resume after it,
// hostile names both ways, the sign-in, the JSON events and the exit codes.

#include "e2eharness.h"

#include "async/runsync.h"
#include "auth/keychainstore.h"
#include "driveemulator.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <csignal>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using namespace Tarnwick::EndToEnd;

namespace {

struct Outcome
{
    int code = -1;
    QString out;
    QString err;
};

// The emulator, a signed-in profile and the folders of one test.
class CliTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_work.isValid());
        m_emulator = std::make_unique<EmulatorProcess>(m_work.path());
        ASSERT_FALSE(m_emulator->baseUrl().isEmpty());
        m_profile = std::make_unique<TarnwickProfile>(m_work.path(), m_emulator->baseUrl());
    }

    QString path(const QString &relative) const { return m_work.path() + u'/' + relative; }

    std::unique_ptr<QProcess> start(const QStringList &arguments,
                                    QProcessEnvironment env = {}) const
    {
        auto process = std::make_unique<QProcess>();
        if (env.isEmpty())
            env = m_profile->environment();
        env.insert(u"TARNWICK_KEYCHAIN_SERVICE"_s, m_profile->service());
        process->setProcessEnvironment(env);
        process->setProgram(QStringLiteral(TARNWICK_CLI_EXECUTABLE));
        process->setArguments(arguments);
        process->start();
        process->waitForStarted();
        return process;
    }

    Outcome run(const QStringList &arguments, QProcessEnvironment env = {}) const
    {
        auto process = start(arguments, std::move(env));
        if (!process->waitForFinished(120'000))
            process->kill();
        return {process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1,
                QString::fromUtf8(process->readAllStandardOutput()),
                QString::fromUtf8(process->readAllStandardError())};
    }

    // The ID of the item called name in My Drive's top folder.
    QString topItem(const QString &name)
    {
        for (const EmulatorProcess::Item &item : m_emulator->children(u"root"_s)) {
            if (item.name == name)
                return item.id;
        }
        return {};
    }

    QTemporaryDir m_work;
    std::unique_ptr<EmulatorProcess> m_emulator;
    std::unique_ptr<TarnwickProfile> m_profile;
};

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(path);
    file.write(bytes);
}

QByteArray bytesFor(int seed, qint64 size)
{
    return Emulator::DriveEmulator::generatedBytes(quint64(seed), 0, size);
}

// A tree whose names a careless client would mangle or trip on, and its digest.
TreeDigest writeHostileTree(const QString &top)
{
    const QStringList names{u"thường.txt"_s,
                            u"-bắt đầu bằng gạch.txt"_s,
                            u"có\nxuống dòng.txt"_s,
                            u"rlo\u202Etxt.exe"_s,
                            u"dấu \\ ngược và 'nháy' \"kép\".bin"_s,
                            u"  khoảng trắng đầu và cuối  "_s,
                            u"%s %n $(echo x) `id`.sh"_s,
                            u"tên dài "_s + QString(200, u'x'),
                            u"thư mục \u202Elạ/bên trong.txt"_s,
                            u"thư mục \u202Elạ/sâu hơn/rỗng.bin"_s,
                            u"lớn/ảnh gốc.raw"_s};
    TreeDigest digest;
    int seed = 1;
    for (const QString &name : names) {
        const qint64 size = name.endsWith(u"rỗng.bin"_s) ? 0
                            : name.startsWith(u"lớn/"_s) ? 6 * 1024 * 1024 + 17
                                                          : 1000 + seed * 37;
        const QByteArray bytes = bytesFor(seed++, size);
        writeFile(top + u'/' + name, bytes);
        digest.insert(name, sha256Of(top + u'/' + name));
    }
    return digest;
}

QList<QJsonObject> jsonLines(const QString &out)
{
    QList<QJsonObject> events;
    for (const QString &line : out.split(u'\n', Qt::SkipEmptyParts)) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << qPrintable(line);
        EXPECT_TRUE(doc.isObject()) << qPrintable(line);
        events.append(doc.object());
    }
    return events;
}

TEST_F(CliTest, PutsAndGetsAHostileTreeWhole)
{
    const QString tree = path(u"lên/Cây lạ"_s);
    const TreeDigest digest = writeHostileTree(tree);

    Outcome made = run({u"mkdir"_s, u"/Scratch"_s});
    ASSERT_EQ(made.code, 0) << qPrintable(made.err);
    EXPECT_TRUE(made.out.contains(u"Đã tạo thư mục: /Drive của tôi/Scratch"_s)) << qPrintable(made.out);
    EXPECT_EQ(run({u"mkdir"_s, u"/Scratch"_s}).code, 1) << "a second folder of the same name";

    const Outcome up = run({u"put"_s, tree, u"/Scratch"_s});
    ASSERT_EQ(up.code, 0) << qPrintable(up.out + up.err);
    const QString scratch = topItem(u"Scratch"_s);
    ASSERT_FALSE(scratch.isEmpty());
    TrialResult sent;
    QString uploaded;
    for (const EmulatorProcess::Item &item : m_emulator->children(scratch))
        uploaded = item.id;
    compareDrive(*m_emulator, uploaded, tree, sent);
    EXPECT_TRUE(sent.identical) << qPrintable(sent.notes.join(u'\n'));
    EXPECT_EQ(sent.duplicates, 0);
    // Names from outside reach the terminal with their controls shown, never obeyed.
    EXPECT_FALSE(up.out.contains(QChar(0x202E)));

    const Outcome listed = run({u"ls"_s, u"-l"_s, u"/Scratch/Cây lạ"_s});
    ASSERT_EQ(listed.code, 0) << qPrintable(listed.err);
    EXPECT_TRUE(listed.out.contains(u"thường.txt"_s));
    EXPECT_TRUE(listed.out.contains(u"[U+202E]"_s)) << qPrintable(listed.out);

    const QString back = path(u"về"_s);
    const Outcome down = run({u"get"_s, u"/Scratch/Cây lạ"_s, back});
    ASSERT_EQ(down.code, 0) << qPrintable(down.out + down.err);
    // Local names of downloads are trimmed, as the window makes them.
    TreeDigest trimmed = digest;
    trimmed.insert(u"khoảng trắng đầu và cuối"_s, trimmed.take(u"  khoảng trắng đầu và cuối  "_s));
    TrialResult fetched;
    compareLocal(back + u"/Cây lạ"_s, trimmed, fetched);
    EXPECT_TRUE(fetched.identical) << qPrintable(fetched.notes.join(u'\n'));
    EXPECT_EQ(fetched.leftovers, 0) << qPrintable(fetched.notes.join(u'\n'));

    // The same item again lands beside the first under a free name, by its link this time.
    const Outcome again = run({u"get"_s, u"https://drive.google.com/drive/folders/"_s + uploaded, back});
    ASSERT_EQ(again.code, 0) << qPrintable(again.err);
    EXPECT_TRUE(QFileInfo(back + u"/Cây lạ/thường.txt"_s).isFile());

    const Outcome trashed = run({u"trash"_s, u"/Scratch"_s});
    EXPECT_EQ(trashed.code, 0) << qPrintable(trashed.err);
    EXPECT_TRUE(topItem(u"Scratch"_s).isEmpty());
}

TEST_F(CliTest, DriveNamesThatAreNoLocalNamesStayInsideTheFolder)
{
    const QString folder = m_emulator->createFolder(u"Từ Drive"_s, {});
    for (const QString &name : {u"../../thoát ra.txt"_s, u"a/b/c.txt"_s, u"."_s, u".."_s,
                                u".thoát.tarnwick-part"_s, u"Hoa.txt"_s, u"hoa.txt"_s})
        m_emulator->createGeneratedFile(name, folder, 100, 7);
    const QString into = path(u"đích"_s);
    const Outcome down = run({u"get"_s, u"/Từ Drive"_s, into});
    ASSERT_EQ(down.code, 0) << qPrintable(down.out + down.err);
    const QDir arrived(into + u"/Từ Drive"_s);
    EXPECT_EQ(arrived.entryList(QDir::Files | QDir::Hidden).size(), 7)
        << qPrintable(arrived.entryList(QDir::Files | QDir::Hidden).join(u", "_s));
    EXPECT_FALSE(QFileInfo::exists(m_work.path() + u"/thoát ra.txt"_s));
    EXPECT_FALSE(QFileInfo::exists(into + u"/thoát ra.txt"_s));
    EXPECT_EQ(QDir(into).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{u"Từ Drive"_s});
}

TEST_F(CliTest, KilledMidTreeResumesWithEveryFileOnce)
{
    const QString tree = path(u"lên/Nhiều file"_s);
    for (int i = 0; i < 48; ++i)
        writeFile(tree + u"/nhóm %1/tệp %2.bin"_s.arg(i % 4).arg(i), bytesFor(100 + i, 40'000 + i));
    // Every upload answers late, so the kill lands with files still on the way.
    m_emulator->addFault({{u"path"_s, u"^/upload/"_s},
                          {u"action"_s, u"delay"_s},
                          {u"delayMs"_s, 250},
                          {u"times"_s, 0}});
    auto process = start({u"put"_s, tree, u"/"_s});
    QElapsedTimer waited;
    waited.start();
    bool someFinished = false;
    while (!someFinished && waited.elapsed() < 60'000 && process->state() == QProcess::Running) {
        QThread::msleep(50);
        QFile saved(m_profile->sessionFile());
        if (saved.open(QIODevice::ReadOnly))
            someFinished = saved.readAll().contains("\"finished\":[\"");
    }
    ASSERT_TRUE(someFinished) << "the saved queue never listed a finished file";
    ::kill(pid_t(process->processId()), SIGKILL);
    process->waitForFinished();
    m_emulator->clearFaults();

    const Outcome queued = run({u"queue"_s});
    EXPECT_EQ(queued.code, 0);
    EXPECT_TRUE(queued.out.contains(u"Nhiều file"_s)) << qPrintable(queued.out);

    const Outcome resumed = run({u"resume"_s});
    ASSERT_EQ(resumed.code, 0) << qPrintable(resumed.out + resumed.err);
    TrialResult result;
    compareDrive(*m_emulator, topItem(u"Nhiều file"_s), tree, result);
    EXPECT_TRUE(result.identical) << qPrintable(result.notes.join(u'\n'));
    EXPECT_EQ(result.duplicates, 0);
    EXPECT_EQ(m_emulator->children(u"root"_s).size(), 1);
    EXPECT_TRUE(run({u"queue"_s}).out.contains(u"Không có tác vụ nào"_s));
}

TEST_F(CliTest, CtrlCPausesAndSavesThenResumeFinishes)
{
    const QString folder = m_emulator->createFolder(u"Chậm"_s, {});
    for (int i = 0; i < 6; ++i)
        m_emulator->createGeneratedFile(u"phần %1.bin"_s.arg(i), folder, 3 * 1024 * 1024, 40 + i);
    m_emulator->addFault({{u"query"_s, u"alt=media"_s},
                          {u"action"_s, u"throttle"_s},
                          {u"bytesPerSecond"_s, 2 * 1024 * 1024},
                          {u"times"_s, 0}});
    const QString into = path(u"về"_s);
    auto process = start({u"--json"_s, u"get"_s, u"/Chậm"_s, into});
    QString out;
    while (!out.contains(u"\"progress\""_s) && process->waitForReadyRead(30'000))
        out += QString::fromUtf8(process->readAllStandardOutput());
    ::kill(pid_t(process->processId()), SIGINT);
    ASSERT_TRUE(process->waitForFinished(30'000));
    EXPECT_EQ(process->exitCode(), 130);
    out += QString::fromUtf8(process->readAllStandardOutput());
    EXPECT_TRUE(out.contains(u"\"event\":\"paused\""_s)) << qPrintable(out);
    QFile saved(m_profile->sessionFile());
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll().contains("Chậm"));

    m_emulator->clearFaults();
    const Outcome resumed = run({u"resume"_s});
    ASSERT_EQ(resumed.code, 0) << qPrintable(resumed.out + resumed.err);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(QFileInfo(into + u"/Chậm/phần %1.bin"_s.arg(i)).size(), 3 * 1024 * 1024);
    EXPECT_EQ(QDir(into + u"/Chậm"_s).entryList(QDir::Files | QDir::Hidden).size(), 6)
        << "no part file left";
}

TEST_F(CliTest, OneProcessAtATimeRunsTheSavedQueue)
{
    const QString folder = m_emulator->createFolder(u"Dài"_s, {});
    m_emulator->createGeneratedFile(u"lớn.bin"_s, folder, 8 * 1024 * 1024, 5);
    m_emulator->addFault({{u"query"_s, u"alt=media"_s},
                          {u"action"_s, u"throttle"_s},
                          {u"bytesPerSecond"_s, 1024 * 1024},
                          {u"times"_s, 0}});
    auto first = start({u"--json"_s, u"get"_s, u"/Dài"_s, path(u"về"_s)});
    QString out;
    while (!out.contains(u"\"started\""_s) && first->waitForReadyRead(30'000))
        out += QString::fromUtf8(first->readAllStandardOutput());
    writeFile(path(u"nhỏ.txt"_s), "x");
    const Outcome second = run({u"put"_s, path(u"nhỏ.txt"_s), u"/"_s});
    EXPECT_EQ(second.code, 1);
    EXPECT_TRUE(second.err.contains(u"đang chạy hàng đợi"_s)) << qPrintable(second.err);
    EXPECT_TRUE(topItem(u"nhỏ.txt"_s).isEmpty());
    // Reading what is saved needs no lock.
    EXPECT_EQ(run({u"queue"_s}).code, 0);
    ::kill(pid_t(first->processId()), SIGINT);
    ASSERT_TRUE(first->waitForFinished(30'000));
    EXPECT_EQ(run({u"put"_s, path(u"nhỏ.txt"_s), u"/"_s}).code, 0);
}

TEST_F(CliTest, JsonEventsAreOneObjectPerLine)
{
    const QString tree = path(u"lên/Ba file"_s);
    for (int i = 0; i < 3; ++i)
        writeFile(tree + u"/%1.txt"_s.arg(i), bytesFor(i, 5000));
    const Outcome up = run({u"--json"_s, u"put"_s, tree, u"/"_s});
    ASSERT_EQ(up.code, 0) << qPrintable(up.err);
    const QList<QJsonObject> events = jsonLines(up.out);
    QStringList kinds;
    for (const QJsonObject &e : events) {
        kinds.append(e[u"event"_s].toString());
        if (e.contains(u"id"_s)) {
            EXPECT_EQ(e[u"name"_s].toString(), u"Ba file"_s);
            EXPECT_EQ(e[u"direction"_s].toString(), u"upload"_s);
            EXPECT_TRUE(e[u"done"_s].isDouble());
            EXPECT_TRUE(e[u"total"_s].isDouble());
        }
    }
    ASSERT_GE(kinds.size(), 4) << qPrintable(kinds.join(u' '));
    EXPECT_EQ(kinds.first(), u"queued"_s);
    EXPECT_TRUE(kinds.contains(u"started"_s));
    EXPECT_EQ(kinds.count(u"file"_s), 3);
    EXPECT_EQ(kinds[kinds.size() - 2], u"done"_s);
    EXPECT_EQ(kinds.last(), u"summary"_s);
    EXPECT_EQ(events.last()[u"exitCode"_s].toInt(), 0);
    EXPECT_EQ(events[kinds.lastIndexOf(u"done"_s)][u"total"_s].toInteger(), 15000);

    const Outcome listed = run({u"--json"_s, u"ls"_s});
    const QList<QJsonObject> items = jsonLines(listed.out);
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0][u"event"_s].toString(), u"item"_s);
    EXPECT_TRUE(items[0][u"folder"_s].toBool());
}

TEST_F(CliTest, ListsWhatOthersShareAndASharedDriveByName)
{
    const QString me = u"e2e@example.com"_s;
    m_emulator->call("POST", u"/__control/accounts"_s,
                     QJsonDocument(QJsonObject{{u"email"_s, u"binh@example.com"_s}}));
    const QString shared =
        m_emulator
            ->call("POST", u"/__control/items"_s,
                   QJsonDocument(QJsonObject{{u"owner"_s, u"binh@example.com"_s},
                                             {u"name"_s, u"Báo cáo của Bình.pdf"_s},
                                             {u"content"_s, QJsonObject{{u"text"_s, u"x"_s}}}}))
                [u"id"_s]
            .toString();
    ASSERT_FALSE(shared.isEmpty());
    m_emulator->call("POST", u"/__control/items/"_s + shared + u"/share"_s,
                     QJsonDocument(QJsonObject{{u"email"_s, me}, {u"role"_s, u"reader"_s}}));
    const QString drive =
        m_emulator
            ->call("POST", u"/__control/drives"_s,
                   QJsonDocument(QJsonObject{
                       {u"name"_s, u"Phòng Kế toán"_s},
                       {u"members"_s, QJsonArray{QJsonObject{{u"email"_s, me},
                                                             {u"role"_s, u"writer"_s}}}}}))
                [u"id"_s]
            .toString();
    ASSERT_FALSE(drive.isEmpty());
    m_emulator->createGeneratedFile(u"Sổ cái.xlsx"_s, drive, 2048, 3);
    m_emulator->createGeneratedFile(u"Của tôi.bin"_s, QString(), 10, 4);

    const Outcome sharedList = run({u"ls"_s, u"--shared"_s});
    ASSERT_EQ(sharedList.code, 0) << qPrintable(sharedList.err);
    EXPECT_TRUE(sharedList.out.contains(u"Báo cáo của Bình.pdf"_s)) << qPrintable(sharedList.out);
    EXPECT_FALSE(sharedList.out.contains(u"Của tôi.bin"_s)) << qPrintable(sharedList.out);

    const Outcome driveList = run({u"ls"_s, u"-l"_s, u"--drive"_s, u"Phòng Kế toán"_s});
    ASSERT_EQ(driveList.code, 0) << qPrintable(driveList.err);
    EXPECT_TRUE(driveList.out.contains(u"Sổ cái.xlsx"_s)) << qPrintable(driveList.out);
    // Long form: size, date, ID, name.
    EXPECT_TRUE(QRegularExpression(u"^ +2 KB  \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d  \\S+ +Sổ cái\\.xlsx$"_s,
                                   QRegularExpression::MultilineOption)
                    .match(driveList.out)
                    .hasMatch())
        << qPrintable(driveList.out);
    EXPECT_FALSE(driveList.out.contains(u"Báo cáo của Bình.pdf"_s));

    const Outcome missing = run({u"ls"_s, u"--drive"_s, u"Không có"_s});
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(missing.err.contains(u"Không có bộ nhớ dùng chung tên \"Không có\"."_s))
        << qPrintable(missing.err);
    EXPECT_EQ(run({u"ls"_s, u"--drive"_s}).code, 2);
}

TEST_F(CliTest, ExitCodesTellTheOutcomes)
{
    // Usage.
    for (const QStringList &line : {QStringList{}, QStringList{u"frobnicate"_s},
                                    QStringList{u"put"_s, u"only-one"_s},
                                    QStringList{u"ls"_s, u"--bogus"_s},
                                    QStringList{u"ls"_s, u"/"_s, u"--shared"_s}}) {
        const Outcome usage = run(line);
        EXPECT_EQ(usage.code, 2) << qPrintable(line.join(u' '));
        EXPECT_TRUE(usage.err.contains(u"tarnwick-cli --help"_s)) << qPrintable(usage.err);
    }
    const Outcome help = run({u"--help"_s});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.out.startsWith(u"Cách dùng: tarnwick-cli"_s));

    // Some items failed: a bad link, a missing local file; the rest still arrives.
    writeFile(path(u"có.txt"_s), "x");
    const Outcome partly = run({u"put"_s, path(u"có.txt"_s), path(u"không có.txt"_s), u"/"_s});
    EXPECT_EQ(partly.code, 1);
    EXPECT_FALSE(topItem(u"có.txt"_s).isEmpty());
    const Outcome badLink = run({u"get"_s, u"https://example.com/không-phải-drive"_s, path(u"về"_s)});
    EXPECT_EQ(badLink.code, 1);
    EXPECT_TRUE(badLink.err.contains(u"Không nhận diện được liên kết Google Drive"_s))
        << qPrintable(badLink.err);
    const Outcome goneLink = run(
        {u"get"_s, u"https://drive.google.com/file/d/1AbCdEfGhIjKlMnOpQrStUvWxYz012345/view"_s,
         path(u"về"_s)});
    EXPECT_EQ(goneLink.code, 1);
    EXPECT_TRUE(goneLink.err.contains(u"Không tìm thấy"_s)) << qPrintable(goneLink.err);
    EXPECT_EQ(run({u"ls"_s, u"/không có"_s}).code, 1);

    // No connection: nothing listens at the address.
    QProcessEnvironment offline = m_profile->environment();
    offline.insert(u"TARNWICK_GOOGLE_BASE"_s, u"http://127.0.0.1:9"_s);
    const Outcome unreachable = run({u"ls"_s}, offline);
    EXPECT_EQ(unreachable.code, 4) << qPrintable(unreachable.err);

    // Not signed in.
    runSync(KeychainStore(m_profile->service()).remove(KeychainStore::tokensAccount()));
    const Outcome signedOut = run({u"ls"_s});
    EXPECT_EQ(signedOut.code, 3);
    EXPECT_TRUE(signedOut.err.contains(u"tarnwick-cli login"_s)) << qPrintable(signedOut.err);
    EXPECT_EQ(run({u"put"_s, path(u"có.txt"_s), u"/"_s}).code, 3);
}

// Plays the browser: asked with prompt=none the emulator approves at once and redirects to the
// command's loopback address.
void approve(const QString &link)
{
    QNetworkAccessManager network;
    QUrl url(link);
    QUrlQuery query(url);
    query.removeAllQueryItems(u"prompt"_s);
    query.addQueryItem(u"prompt"_s, u"none"_s);
    url.setQuery(query);
    for (int hop = 0; hop < 3 && url.isValid(); ++hop) {
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
        QNetworkReply *reply = network.get(request);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        const QUrl next = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        reply->deleteLater();
        if (next.isEmpty())
            return;
        url = url.resolved(next);
    }
}

TEST_F(CliTest, LoginWaitsOnTheLoopbackAndLogoutForgets)
{
    runSync(KeychainStore(m_profile->service()).remove(KeychainStore::tokensAccount()));
    auto process = start({u"--json"_s, u"login"_s, u"--no-browser"_s});
    QString out;
    while (!out.contains(u'\n') && process->waitForReadyRead(30'000))
        out += QString::fromUtf8(process->readAllStandardOutput());
    const QJsonObject first = QJsonDocument::fromJson(out.section(u'\n', 0, 0).toUtf8()).object();
    ASSERT_EQ(first[u"event"_s].toString(), u"signin-link"_s) << qPrintable(out);
    approve(first[u"url"_s].toString());
    ASSERT_TRUE(process->waitForFinished(30'000));
    EXPECT_EQ(process->exitCode(), 0) << qPrintable(QString::fromUtf8(process->readAllStandardError()));
    out += QString::fromUtf8(process->readAllStandardOutput());
    EXPECT_TRUE(out.contains(u"\"email\":\"e2e@example.com\""_s)) << qPrintable(out);

    const Outcome who = run({u"whoami"_s});
    EXPECT_EQ(who.code, 0);
    EXPECT_TRUE(who.out.contains(u"E-mail: e2e@example.com"_s)) << qPrintable(who.out);
    EXPECT_TRUE(who.out.contains(u"Tên: Người kiểm thử"_s));

    EXPECT_EQ(run({u"logout"_s}).code, 0);
    EXPECT_EQ(run({u"whoami"_s}).code, 3);
}

} // namespace
