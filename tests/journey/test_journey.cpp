// A user's journey through the real `tarnwick --demo` window, under a window manager, driven by
// X input events (xdotool): first start and sign-in, drags both ways, seven transfers with their
// row buttons, quits while running and every answer of the restore prompt, a link download, the
// menus by keyboard and the upload chooser with a folder. The window is read through the
// automation probe (TARNWICK_AUTOMATION_SOCKET); at each step the visible texts are checked, menu
// commands are tried, and files are compared by SHA-256 on both sides. Screenshots land in
// $TARNWICK_TEST_ARTIFACTS/journey.

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QRandomGenerator>
#include <QRect>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

using namespace Qt::StringLiterals;
using Json = QJsonObject;

namespace {

constexpr int skipStatus = 77;

bool waitUntil(const std::function<bool()> &condition, int ceilingMs = 15000)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (condition())
            return true;
        if (clock.elapsed() > ceilingMs)
            return false;
        QThread::msleep(40);
    }
}

QByteArray sha256Of(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex();
}

void writeRandom(const QString &path, qint64 size, quint32 seed)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(path);
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char(random.bounded(256));
    file.write(bytes);
}

QRect rectOf(const Json &o)
{
    const QJsonArray r = o.value("rect"_L1).toArray();
    return QRect(r.at(0).toInt(), r.at(1).toInt(), r.at(2).toInt(), r.at(3).toInt());
}

QPoint centerOf(const Json &o)
{
    return rectOf(o).center();
}

// ---- real input: X events through XTEST

void xdo(const QStringList &arguments)
{
    QProcess p;
    p.start(u"xdotool"_s, arguments);
    p.waitForFinished(10000);
}

void moveTo(QPoint p)
{
    xdo({u"mousemove"_s, QString::number(p.x()), QString::number(p.y())});
}

void click(QPoint p, int button = 1, int times = 1)
{
    moveTo(p);
    QThread::msleep(60);
    QStringList args{u"click"_s};
    if (times > 1)
        args << u"--repeat"_s << QString::number(times) << u"--delay"_s << u"60"_s;
    args << QString::number(button);
    xdo(args);
}

void key(const QString &keys)
{
    xdo({u"key"_s, u"--clearmodifiers"_s, keys});
}

void typeText(const QString &text)
{
    xdo({u"type"_s, u"--delay"_s, u"15"_s, text});
}

// A press, a slow move in steps (Qt starts a drag past its distance and the target sees moves),
// and a release over the target.
void drag(QPoint from, QPoint to)
{
    moveTo(from);
    QThread::msleep(80);
    xdo({u"mousedown"_s, u"1"_s});
    QThread::msleep(80);
    const int steps = 16;
    for (int i = 1; i <= steps; ++i) {
        moveTo(from + (to - from) * i / steps);
        QThread::msleep(25);
    }
    QThread::msleep(250);
    moveTo(to + QPoint(2, 2));
    QThread::msleep(150);
    xdo({u"mouseup"_s, u"1"_s});
}

// ---- reading a dump

QList<Json> windowsOf(const Json &dump)
{
    QList<Json> out;
    for (const QJsonValue &w : dump.value("windows"_L1).toArray())
        out.append(w.toObject());
    return out;
}

std::optional<Json> mainWindow(const Json &dump)
{
    for (const Json &w : windowsOf(dump))
        if (w.value("main"_L1).toBool())
            return w;
    return std::nullopt;
}

QList<Json> widgetsOf(const Json &window)
{
    QList<Json> out;
    for (const QJsonValue &w : window.value("widgets"_L1).toArray())
        out.append(w.toObject());
    return out;
}

// Windows other than the main one: dialogs, alerts, popups.
QList<Json> otherWindows(const Json &dump)
{
    QList<Json> out;
    for (const Json &w : windowsOf(dump))
        if (!w.value("main"_L1).toBool())
            out.append(w);
    return out;
}

std::optional<Json> findWidget(const Json &window, const QString &text, const QString &cls = {})
{
    for (const Json &w : widgetsOf(window)) {
        if (w.value("text"_L1).toString() == text &&
            (cls.isEmpty() || w.value("class"_L1).toString().contains(cls)))
            return w;
    }
    return std::nullopt;
}

std::optional<Json> findAnywhere(const Json &dump, const QString &text, const QString &cls = {})
{
    const QList<Json> windows = windowsOf(dump);
    // Dialogs first: they sit above the main window.
    for (auto it = windows.crbegin(); it != windows.crend(); ++it)
        if (auto w = findWidget(*it, text, cls))
            return w;
    return std::nullopt;
}

// The two file tables of the main window: the local one on the left, Drive's on the right.
struct Panes
{
    Json local;
    Json drive;
};

// The local table is always shown once a folder is open; Drive's only while signed in (an
// empty object otherwise).
std::optional<Panes> panesOf(const Json &dump)
{
    const auto main = mainWindow(dump);
    if (!main)
        return std::nullopt;
    const int middle = rectOf(*main).center().x();
    std::optional<Panes> panes;
    Json local, drive;
    for (const Json &w : widgetsOf(*main)) {
        if (!w.value("class"_L1).toString().endsWith("LocalFileView"_L1))
            continue;
        (rectOf(w).center().x() < middle ? local : drive) = w;
    }
    if (local.isEmpty())
        return std::nullopt;
    return Panes{local, drive};
}

QList<Json> rowsOf(const Json &view)
{
    QList<Json> out;
    for (const QJsonValue &r : view.value("rows"_L1).toArray())
        out.append(r.toObject());
    return out;
}

QString cellText(const Json &row, int index)
{
    return row.value("cells"_L1).toArray().at(index).toObject().value("text"_L1).toString();
}

std::optional<Json> rowNamed(const Json &view, const QString &name)
{
    for (const Json &r : rowsOf(view))
        if (cellText(r, 0) == name)
            return r;
    return std::nullopt;
}

QPoint rowPoint(const Json &row)
{
    const QRect r = rectOf(row.value("cells"_L1).toArray().at(0).toObject());
    return QPoint(r.left() + std::min(40, r.width() / 2), r.center().y());
}

std::optional<Json> queueView(const Json &dump)
{
    if (const auto main = mainWindow(dump))
        for (const Json &w : widgetsOf(*main))
            if (w.value("class"_L1).toString().endsWith("TransferQueueView"_L1))
                return w;
    return std::nullopt;
}

// A transfer row of the queue: the row whose source cell names it.
std::optional<Json> queueRow(const Json &dump, const QString &name)
{
    const auto view = queueView(dump);
    if (!view)
        return std::nullopt;
    for (const Json &r : rowsOf(*view)) {
        if (r.value("depth"_L1).toInt() != 0)
            continue;
        for (const QJsonValue &c : r.value("cells"_L1).toArray())
            if (c.toObject().value("text"_L1).toString().contains(name))
                return r;
    }
    return std::nullopt;
}

std::optional<QPoint> rowButton(const Json &row, const QString &kind)
{
    for (const QJsonValue &b : row.value("buttons"_L1).toArray())
        if (b.toObject().value("kind"_L1).toString() == kind)
            return centerOf(b.toObject());
    return std::nullopt;
}

// ---- the texts a person reads

// A syllable of Vietnamese written without marks: the ASCII words that are not English.
const QRegularExpression vietnameseSyllable(
    u"^(ngh|ng|nh|ch|gh|gi|kh|ph|qu|th|tr|[bcdghklmnprstvx])?"
    u"(uye|uya|uyu|oai|oay|oeo|uay|uoi|ieu|yeu|uou|ai|ao|au|ay|eo|eu|ia|iu|oa|oe|oi|ua|ue|ui|uy|uo|ie|"
    u"[aeiouy])(ch|ng|nh|[cmnpt])?$"_s,
    QRegularExpression::CaseInsensitiveOption);

// Words that are names or borrowed as they are ("Transfer" labels the queue's rows).
// (lower case)
const QSet<QString> allowedWords{
    u"tarnwick"_s, u"google"_s, u"drive"_s,  u"tavo"_s,  u"oauth"_s, u"id"_s,    u"url"_s,
    u"file"_s,     u"link"_s,   u"app"_s,    u"demo"_s,  u"email"_s, u"byte"_s,  u"kb"_s,
    u"mb"_s,       u"gb"_s,     u"tb"_s,     u"kib"_s,   u"mib"_s,   u"gib"_s,   u"pdf"_s,
    u"png"_s,      u"jpeg"_s,   u"zip"_s,    u"linux"_s, u"qr"_s,    u"gmail"_s, u"json"_s,
    u"https"_s,    u"web"_s,    u"online"_s, u"ctrl"_s,  u"shift"_s, u"alt"_s,   u"enter"_s,
    u"transfer"_s, u"esc"_s,      u"tab"_s,    u"gnome"_s,  u"kde"_s,   u"menu"_s,  u"quicktime"_s};

struct TextFinding
{
    QString what;
    QString where;
};

class Journey : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(work.isValid());
        root = work.path();
        localDir = root + u"/Máy của tôi"_s;
        socketPath = root + u"/probe.sock"_s;
        artifacts = qEnvironmentVariable("TARNWICK_TEST_ARTIFACTS",
                                         QStringLiteral(TARNWICK_DEFAULT_ARTIFACTS)) +
                    u"/journey"_s;
        QDir(artifacts).removeRecursively();
        QDir().mkpath(artifacts);
        for (const char *d : {"home", "config", "data", "cache"})
            QDir().mkpath(root + u'/' + QLatin1StringView(d));

        writeRandom(localDir + u"/ghi chú.txt"_s, 2048, 1);
        writeRandom(localDir + u"/Thư mục gửi/một.txt"_s, 1000, 2);
        writeRandom(localDir + u"/Thư mục gửi/hai.bin"_s, 30000, 3);
        writeRandom(localDir + u"/Thư mục gửi/con/ba.txt"_s, 500, 4);
        for (int i = 1; i <= 7; ++i)
            writeRandom(localDir + u"/tệp %1.bin"_s.arg(i), 400 * 1024, 10 + i);
        writeRandom(localDir + u"/cho chọn/ảnh.txt"_s, 3000, 30);

        // The browser: it notes what it was asked to open.
        {
            QFile browser(root + u"/browser"_s);
            ASSERT_TRUE(browser.open(QIODevice::WriteOnly));
            browser.write("#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + QFile::encodeName(root) +
                          "/opened'\n");
            browser.close();
            browser.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                   QFileDevice::ExeOwner);
        }

        // The opener of documents (the help page) notes them too.
        QDir().mkpath(root + u"/bin"_s);
        QFile::copy(root + u"/browser"_s, root + u"/bin/xdg-open"_s);

        // A window manager of the journey's own: decorations, focus and drags as on a desktop.
        wm.setProgram(u"openbox"_s);
        const QString ready = root + u"/wm-ready"_s;
        wm.setArguments({u"--startup"_s, u"touch '"_s + ready + u"'"_s});
        wm.setStandardOutputFile(root + u"/openbox.log"_s);
        wm.setStandardErrorFile(root + u"/openbox.log"_s);
        wm.start();
        ASSERT_TRUE(wm.waitForStarted(10000));
        if (!waitUntil([&] { return QFile::exists(ready); }, 20000)) {
            QFile log(root + u"/openbox.log"_s);
            log.open(QIODevice::ReadOnly);
            FAIL() << "openbox did not start: " << log.readAll().right(2000).constData();
        }
    }

    void TearDown() override
    {
        if (app && app->state() != QProcess::NotRunning) {
            app->kill();
            app->waitForFinished(10000);
        }
        if (wm.state() != QProcess::NotRunning) {
            wm.terminate();
            if (!wm.waitForFinished(5000)) {
                wm.kill();
                wm.waitForFinished(5000);
            }
        }
        std::printf("journey: screenshots in %s\n", qPrintable(artifacts));
    }

    // ---- the application

    void start(qint64 throttle = 0)
    {
        ASSERT_FALSE(app && app->state() != QProcess::NotRunning) << "tarnwick is still running";
        app = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"HOME"_s, root + u"/home"_s);
        env.insert(u"XDG_CONFIG_HOME"_s, root + u"/config"_s);
        env.insert(u"XDG_DATA_HOME"_s, root + u"/data"_s);
        env.insert(u"XDG_CACHE_HOME"_s, root + u"/cache"_s);
        env.insert(u"TARNWICK_AUTOMATION"_s, u"1"_s);
        env.insert(u"TARNWICK_AUTOMATION_SOCKET"_s, socketPath);
        env.insert(u"TARNWICK_AUTOMATION_THROTTLE"_s, QString::number(throttle));
        env.remove(u"QT_QPA_PLATFORM"_s);
        env.insert(u"BROWSER"_s, root + u"/browser"_s);
        env.insert(u"PATH"_s, root + u"/bin:"_s + env.value(u"PATH"_s));
        // A Vietnamese desktop: Qt's own texts and the file types' names follow it.
        env.remove(u"LC_ALL"_s);
        env.remove(u"LC_MESSAGES"_s);
        env.insert(u"LANG"_s, u"vi_VN.UTF-8"_s);
        env.insert(u"LANGUAGE"_s, u"vi"_s);
        env.insert(u"DEFAULT_BROWSER"_s, root + u"/browser"_s);
        app->setProcessEnvironment(env);
        app->setProgram(QStringLiteral(TARNWICK_EXECUTABLE));
        app->setArguments({u"--demo"_s, localDir});
        app->setStandardOutputFile(root + u"/tarnwick.log"_s, QIODevice::Append);
        app->setStandardErrorFile(root + u"/tarnwick.log"_s, QIODevice::Append);
        app->start();
        ASSERT_TRUE(app->waitForStarted(10000));
        ASSERT_TRUE(waitUntil(
            [&] {
                const Json d = ask({{"cmd"_L1, u"dump"_s}});
                const auto main = mainWindow(d);
                return main && panesOf(d);
            },
            30000))
            << "the window did not show: " << qPrintable(logTail()) << "\n"
            << QJsonDocument(dump()).toJson().left(3000).constData();
    }

    bool running() const { return app && app->state() != QProcess::NotRunning; }

    bool waitForExit(int ceilingMs = 20000)
    {
        if (!running())
            return true;
        return app->waitForFinished(ceilingMs);
    }

    QString logTail() const
    {
        QFile log(root + u"/tarnwick.log"_s);
        if (!log.open(QIODevice::ReadOnly))
            return {};
        const QList<QByteArray> lines = log.readAll().split('\n');
        return QString::fromUtf8(lines.mid(std::max<qsizetype>(0, lines.size() - 15)).join('\n'));
    }

    Json ask(const Json &request)
    {
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        if (!socket.waitForConnected(3000))
            return {};
        socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
        socket.waitForBytesWritten(3000);
        QElapsedTimer clock;
        clock.start();
        while (!socket.canReadLine() && clock.elapsed() < 15000)
            socket.waitForReadyRead(500);
        return QJsonDocument::fromJson(socket.readLine()).object();
    }

    Json dump() { return ask({{"cmd"_L1, u"dump"_s}}); }

    QList<Json> transfers()
    {
        QList<Json> out;
        for (const QJsonValue &t : ask({{"cmd"_L1, u"transfers"_s}}).value("transfers"_L1).toArray())
            out.append(t.toObject());
        return out;
    }

    std::optional<Json> transfer(const QString &name)
    {
        for (const Json &t : transfers())
            if (t.value("name"_L1).toString() == name)
                return t;
        return std::nullopt;
    }

    QString stateOf(const QString &name)
    {
        const auto t = transfer(name);
        return t ? t->value("state"_L1).toString() : QString();
    }

    bool waitState(const QString &name, const QStringList &states, int ceilingMs = 15000)
    {
        return waitUntil([&] { return states.contains(stateOf(name)); }, ceilingMs);
    }

    bool allFinished()
    {
        for (const Json &t : transfers()) {
            const QString s = t.value("state"_L1).toString();
            if (s == "waiting"_L1 || s == "working"_L1)
                return false;
        }
        return true;
    }

    void throttle(qint64 bytesPerSecond)
    {
        ask({{"cmd"_L1, u"throttle"_s}, {"bytesPerSecond"_L1, double(bytesPerSecond)}});
    }

    // Drive's files by path below My Drive: their SHA-256 (empty for folders and documents).
    QHash<QString, QByteArray> driveFiles(bool hashes = true)
    {
        QHash<QString, QByteArray> out;
        for (const QJsonValue &v :
             ask({{"cmd"_L1, u"drive"_s}, {"hashes"_L1, hashes}}).value("items"_L1).toArray()) {
            const Json item = v.toObject();
            out.insert(item.value("path"_L1).toString(),
                       item.value("sha256"_L1).toString().toLatin1());
        }
        return out;
    }

    QString driveId(const QString &path)
    {
        for (const QJsonValue &v : ask({{"cmd"_L1, u"drive"_s}}).value("items"_L1).toArray())
            if (v.toObject().value("path"_L1).toString() == path)
                return v.toObject().value("id"_L1).toString();
        return {};
    }

    // Every file below a local folder equals the one at the same place below a Drive folder.
    void expectSameTree(const QString &local, const QString &drivePath)
    {
        const QHash<QString, QByteArray> drive = driveFiles();
        int compared = 0;
        QDirIterator it(local, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString relative = QDir(local).relativeFilePath(path);
            const QString remote = drivePath.isEmpty() ? relative : drivePath + u'/' + relative;
            EXPECT_TRUE(drive.contains(remote)) << "not on Drive: " << qPrintable(remote);
            EXPECT_EQ(drive.value(remote), sha256Of(path))
                << "different on Drive: " << qPrintable(remote);
            ++compared;
        }
        EXPECT_GT(compared, 0) << "nothing to compare in " << qPrintable(local);
    }

    void expectSameFile(const QString &local, const QString &drivePath)
    {
        const QHash<QString, QByteArray> drive = driveFiles();
        EXPECT_TRUE(QFileInfo::exists(local)) << "not on the disk: " << qPrintable(local);
        EXPECT_TRUE(drive.contains(drivePath)) << "not on Drive: " << qPrintable(drivePath);
        EXPECT_EQ(sha256Of(local), drive.value(drivePath))
            << qPrintable(local) << " differs from Drive's " << qPrintable(drivePath);
    }

    QJsonArray savedQueue()
    {
        QFile file(root + u"/data/Tarnwick Demo/transfers.json"_s);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(file.readAll()).array();
    }

    QStringList savedNames()
    {
        QStringList names;
        for (const QJsonValue &v : savedQueue()) {
            const Json t = v.toObject();
            // A saved transfer names its local end; the last component is the item's name.
            for (const QString &field : {u"name"_s, u"source"_s, u"destination"_s}) {
                const QString value = t.value(field).toString();
                if (!value.isEmpty()) {
                    names.append(QFileInfo(value).fileName());
                    break;
                }
            }
        }
        return names;
    }

    QStringList partFiles()
    {
        QStringList out;
        QDirIterator it(localDir, {u"*.tarnwick-part"_s}, QDir::Files | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            out.append(QFileInfo(it.next()).fileName());
        return out;
    }

    // ---- checks at each step

    void screenshot(const QString &name)
    {
        const QString path =
            artifacts + u"/%1-%2.png"_s.arg(++shots, 2, 10, QLatin1Char('0')).arg(name);
        ask({{"cmd"_L1, u"shot"_s}, {"path"_L1, path}});
    }

    QSet<QString> knownNames()
    {
        QSet<QString> names;
        QDirIterator it(localDir, QDir::AllEntries | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            names.insert(QFileInfo(it.next()).fileName());
        const QHash<QString, QByteArray> drive = driveFiles(false);
        for (auto it = drive.cbegin(); it != drive.cend(); ++it) {
            names.insert(it.key());
            names.insert(it.key().section(u'/', -1));
        }
        // What the file choosers show around the journey's folders.
        for (const QString &folder : {root, root + u"/home"_s, QDir::rootPath()})
            for (const QString &entry : QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot))
                names.insert(entry);
        names.insert(u"home"_s);
        for (const char *folder : {"Desktop", "Documents", "Downloads", "Music", "Pictures",
                                   "Public", "Templates", "Videos"})
            names.insert(QString::fromLatin1(folder));
        const Json state = ask({{"cmd"_L1, u"state"_s}});
        names.insert(state.value("email"_L1).toString());
        names.insert(u"Nguyễn Minh Anh"_s);
        names.remove({});
        return names;
    }

    // Every text of every visible window: no escaped control characters, no English word, no
    // text that does not fit its place unless it is a name.
    // Texts that are cut, escaped or not Vietnamese. A window may still be taking its size, so
    // a finding counts only when a second look shortly after agrees.
    void checkTexts(const QString &step, bool mainToo = true)
    {
        QList<TextFinding> findings = textFindings(dump(), mainToo);
        if (!findings.isEmpty()) {
            QThread::msleep(300);
            const QList<TextFinding> again = textFindings(dump(), mainToo);
            findings.removeIf([&](const TextFinding &f) {
                return std::none_of(again.begin(), again.end(), [&](const TextFinding &g) {
                    return g.what == f.what && g.where == f.where;
                });
            });
        }
        QSet<QString> reported;
        for (const TextFinding &f : findings) {
            const QString line = f.what + u" ("_s + f.where + u')';
            if (reported.contains(line))
                continue;
            reported.insert(line);
            ADD_FAILURE() << "[" << qPrintable(step) << "] " << qPrintable(line);
        }
    }

    QList<TextFinding> textFindings(const Json &d, bool mainToo)
    {
        const QSet<QString> names = knownNames();
        QList<TextFinding> findings;
        auto isName = [&](const QString &text) {
            if (names.contains(text) || text.contains(u'/') || text.contains(u'@'))
                return true;
            for (const QString &n : names)
                if (n.size() >= 4 && text.contains(n))
                    return true;
            return false;
        };
        auto check = [&](const QString &raw, const QString &where, bool fits) {
            if (raw.isEmpty())
                return;
            if (raw.contains("[U+"_L1))
                findings.append({u"escaped character in \u201C"_s + raw + u'\u201D', where});
            if (!fits && !isName(raw))
                findings.append({u"cut: \u201C"_s + raw + u'\u201D', where});
            if (isName(raw))
                return;
            // Names inside a sentence are quoted or are known: what is left must be Vietnamese.
            QString text = raw;
            text.remove(QRegularExpression(u"\u201C[^\u201D]*\u201D"_s));
            for (const QString &n : names)
                if (n.size() >= 3)
                    text.replace(n, u" "_s);
            static const QRegularExpression word(u"[\\p{L}]+"_s);
            for (auto m = word.globalMatch(text); m.hasNext();) {
                const QString w = m.next().captured();
                bool ascii = true;
                for (QChar c : w)
                    ascii = ascii && c.unicode() < 128;
                if (!ascii || w.size() < 2 || allowedWords.contains(w.toLower()) ||
                    vietnameseSyllable.match(w).hasMatch())
                    continue;
                findings.append({u"English word \u201C"_s + w + u"\u201D in \u201C"_s + raw +
                                     u'\u201D',
                                 where});
            }
        };
        for (const Json &window : windowsOf(d)) {
            if (!mainToo && window.value("main"_L1).toBool())
                continue;
            const QString windowName = window.value("class"_L1).toString();
            check(window.value("title"_L1).toString(), windowName + u" title"_s, true);
            for (const QJsonValue &a : window.value("actions"_L1).toArray()) {
                check(a.toObject().value("text"_L1).toString(), windowName + u" action"_s, true);
                check(a.toObject().value("tooltip"_L1).toString(), windowName + u" action"_s,
                      true);
            }
            for (const Json &w : widgetsOf(window)) {
                const QString where = windowName + u' ' + w.value("class"_L1).toString();
                const bool fits = !w.contains("width"_L1) ||
                                  w.value("textWidth"_L1).toInt() <= w.value("width"_L1).toInt() + 1;
                check(w.value("text"_L1).toString(), where, fits);
                check(w.value("tooltip"_L1).toString(), where + u" tooltip"_s, true);
                check(w.value("placeholder"_L1).toString(), where + u" placeholder"_s, true);
                for (const char *list : {"sections", "tabs"})
                    for (const QJsonValue &s : w.value(QLatin1StringView(list)).toArray())
                        check(s.toString(), where, true);
                for (const QJsonValue &i : w.value("items"_L1).toArray())
                    check(i.toObject().value("text"_L1).toString(), where + u" menu"_s, true);
                for (const QJsonValue &i : w.value("menus"_L1).toArray())
                    check(i.toObject().value("text"_L1).toString(), where, true);
                const bool queue = w.value("class"_L1).toString().endsWith("TransferQueueView"_L1);
                for (const Json &r : rowsOf(w)) {
                    for (const QJsonValue &c : r.value("cells"_L1).toArray()) {
                        const Json cell = c.toObject();
                        // The queue's status, size, speed and time columns are never names.
                        const int column = cell.value("column"_L1).toInt();
                        const bool measured = queue && column >= 3 && column != 5;
                        const bool cellFits =
                            !measured ||
                            cell.value("textWidth"_L1).toInt() <= rectOf(cell).width() - 12;
                        check(cell.value("text"_L1).toString(), where + u" row"_s, cellFits);
                        check(cell.value("tooltip"_L1).toString(), where + u" row tooltip"_s,
                              true);
                    }
                    for (const QJsonValue &b : r.value("buttons"_L1).toArray())
                        check(b.toObject().value("hint"_L1).toString(), where + u" button"_s,
                              true);
                }
            }
        }
        return findings;
    }

    // What a command may change that a person sees: windows, focus, checks, rows, transfers.
    QString signature()
    {
        const Json d = dump();
        QStringList parts;
        for (const Json &w : windowsOf(d))
            parts << w.value("id"_L1).toString();
        parts << d.value("focus"_L1).toString();
        const auto main = mainWindow(d);
        if (main) {
            for (const QJsonValue &a : main->value("actions"_L1).toArray())
                parts << a.toObject().value("text"_L1).toString() +
                             (a.toObject().value("checked"_L1).toBool() ? u"+"_s : u"-"_s);
        }
        if (main) {
            for (const Json &w : widgetsOf(*main))
                if (w.value("text"_L1).toString().endsWith(u" mục"_s))
                    parts << w.value("text"_L1).toString();
        }
        if (const auto panes = panesOf(d)) {
            for (const Json &r : rowsOf(panes->local))
                parts << cellText(r, 0);
            for (const Json &r : rowsOf(panes->drive))
                parts << cellText(r, 0);
        }
        for (const Json &t : transfers())
            parts << t.value("name"_L1).toString() + t.value("state"_L1).toString();
        parts << QString::number(QFileInfo(root + u"/opened"_s).size());
        return parts.join(u'|');
    }

    // Closes whatever opened over the main window with Escape.
    void closeOtherWindows()
    {
        for (int i = 0; i < 4 && !otherWindows(dump()).isEmpty(); ++i) {
            key(u"Escape"_s);
            waitUntil([&] { return otherWindows(dump()).isEmpty(); }, 3000);
        }
        EXPECT_TRUE(otherWindows(dump()).isEmpty()) << "a dialog would not close with Escape";
    }

    // Every enabled menu command does something a person sees: a dialog, or a change.
    void sweepActions(const QString &step, const QSet<QString> &skip = {})
    {
        const auto main = mainWindow(dump());
        ASSERT_TRUE(main);
        for (const QJsonValue &v : main->value("actions"_L1).toArray()) {
            const Json a = v.toObject();
            const QString text = a.value("text"_L1).toString();
            if (a.value("menu"_L1).toString().isEmpty() || !a.value("enabled"_L1).toBool() ||
                text == u"Thoát Tarnwick"_s || skip.contains(text))
                continue;
            SCOPED_TRACE(qPrintable(step + u": "_s + text));
            if (text == u"Làm mới"_s) // something new to show
                writeRandom(localDir + u"/mới %1.txt"_s.arg(shots), 10, 99);
            if (text.startsWith(u"Tìm"_s) && dump().value("focus"_L1).toString().contains("Search"_L1))
                key(u"Tab"_s);
            const QString before = signature();
            ask({{"cmd"_L1, u"trigger"_s}, {"id"_L1, a.value("id"_L1).toString()}});
            const bool changed = waitUntil([&] { return signature() != before; }, 4000);
            EXPECT_TRUE(changed) << "[" << qPrintable(step) << "] the command \u201C"
                                 << qPrintable(text) << "\u201D showed nothing";
            if (!otherWindows(dump()).isEmpty()) {
                screenshot(u"command"_s);
                checkTexts(step + u" / "_s + text, false);
                closeOtherWindows();
            }
            if (a.value("checked"_L1).isBool()) // put the option back
                ask({{"cmd"_L1, u"trigger"_s}, {"id"_L1, a.value("id"_L1).toString()}});
        }
        waitUntil([&] { return otherWindows(dump()).isEmpty(); }, 3000);
    }

    void checkpoint(const QString &step, bool sweep = true, const QSet<QString> &skip = {})
    {
        screenshot(step);
        checkTexts(step);
        if (sweep)
            sweepActions(step, skip);
    }

    // ---- gestures on the window

    void clickText(const QString &text, const QString &cls = {})
    {
        const auto w = findAnywhere(dump(), text, cls);
        ASSERT_TRUE(w) << "nothing shows \u201C" << qPrintable(text) << "\u201D";
        click(centerOf(*w));
    }

    // Waits for a row of the given table ("local" or "drive") and returns its place.
    // Scrolls the table with the wheel while the row is out of sight.
    std::optional<QPoint> row(bool local, const QString &name, int ceilingMs = 10000)
    {
        std::optional<QPoint> at;
        int turns = 0;
        waitUntil(
            [&] {
                const auto panes = panesOf(dump());
                if (!panes)
                    return false;
                const Json &view = local ? panes->local : panes->drive;
                const auto r = rowNamed(view, name);
                if (r) {
                    at = rowPoint(*r);
                    return true;
                }
                if (!view.isEmpty() && ++turns > 2) {
                    moveTo(centerOf(view));
                    xdo({u"click"_s, u"--repeat"_s, u"2"_s, (turns / 8) % 2 ? u"4"_s : u"5"_s});
                }
                return false;
            },
            ceilingMs);
        return at;
    }

    void openDriveFolder(const QString &name)
    {
        const auto at = row(false, name);
        ASSERT_TRUE(at) << "Drive shows no " << qPrintable(name);
        click(*at, 1, 2);
        ASSERT_TRUE(waitUntil([&] {
            const auto panes = panesOf(dump());
            return panes && !rowNamed(panes->drive, name) && !rowsOf(panes->drive).isEmpty();
        })) << "Drive did not open " << qPrintable(name);
    }

    void driveBack()
    {
        const auto main = mainWindow(dump());
        ASSERT_TRUE(main);
        // The Drive pane's back button: the right-hand one of the two.
        std::optional<Json> back;
        for (const Json &w : widgetsOf(*main))
            if (w.value("tooltip"_L1).toString() == u"Quay lại thư mục trước"_s &&
                (!back || rectOf(w).x() > rectOf(*back).x()))
                back = w;
        ASSERT_TRUE(back);
        click(centerOf(*back));
    }

    void showQueue()
    {
        if (queueView(dump()))
            return;
        clickText(u"Hàng đợi"_s, u"SideButton"_s);
        ASSERT_TRUE(waitUntil([&] { return queueView(dump()).has_value(); }));
    }

    // The row's button, scrolled into view with the wheel when the panel is too short for it.
    void clickRowButton(const QString &name, const QString &kind, int times = 1)
    {
        std::optional<QPoint> at, before;
        int turns = 0;
        ASSERT_TRUE(waitUntil([&] {
            const Json d = dump();
            before = at;
            at.reset();
            if (const auto r = queueRow(d, name))
                at = rowButton(*r, kind);
            // The wheel's events may still be on their way: click only where two looks agree.
            if (at && before == at)
                return true;
            if (at) {
                QThread::msleep(150);
                return false;
            }
            if (const auto view = queueView(d)) {
                moveTo(centerOf(*view));
                xdo({u"click"_s, u"--repeat"_s, u"2"_s, (turns++ / 6) % 2 ? u"4"_s : u"5"_s});
            }
            return false;
        })) << "the queue shows no " << qPrintable(kind) << " button for " << qPrintable(name);
        click(*at, 1, times);
    }

    // Ctrl+Q; while something runs the window asks first, and "Dừng và thoát" is the answer.
    void quitWhileRunning()
    {
        focusMainWindow();
        key(u"ctrl+q"_s);
        std::optional<Json> stop;
        waitUntil([&] {
            stop = findAnywhere(dump(), u"Dừng và thoát"_s);
            return stop.has_value() || !running();
        });
        if (stop) {
            screenshot(u"quit-asks"_s);
            checkTexts(u"quit"_s);
            click(centerOf(*stop));
        }
        ASSERT_TRUE(waitForExit()) << "tarnwick did not quit";
    }

    void focusMainWindow()
    {
        const auto main = mainWindow(dump());
        ASSERT_TRUE(main);
        if (const auto logo = findWidget(*main, u"Tarnwick"_s, u"QLabel"_s))
            click(centerOf(*logo));
    }

    std::optional<Json> restorePrompt()
    {
        const Json d = dump();
        for (const Json &w : otherWindows(d))
            if (findWidget(w, u"Bỏ các tác vụ này"_s))
                return w;
        return std::nullopt;
    }

    void answerRestore(const QString &answer)
    {
        std::optional<Json> prompt;
        ASSERT_TRUE(waitUntil([&] { return (prompt = restorePrompt()).has_value(); }))
            << "no restore prompt";
        screenshot(u"restore-prompt"_s);
        checkTexts(u"restore prompt"_s);
        const auto button = findWidget(*prompt, answer);
        ASSERT_TRUE(button);
        click(centerOf(*button));
        ASSERT_TRUE(waitUntil([&] { return !restorePrompt(); })) << "the prompt stayed";
    }

    QTemporaryDir work;
    QString root;
    QString localDir;
    QString socketPath;
    QString artifacts;
    QProcess wm;
    std::unique_ptr<QProcess> app;
    int shots = 0;
};

TEST_F(Journey, FromFirstStartToFolderUpload)
{
    QElapsedTimer clock;
    clock.start();

    // ---- first start, then sign-in by the Drive pane's button and the connection screen
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_TRUE(row(true, u"ghi chú.txt"_s)) << "the local pane does not show the journey's folder";
    checkpoint(u"first-start"_s);
    {
        const auto main = mainWindow(dump());
        ASSERT_TRUE(main);
        std::optional<Json> connect;
        for (const Json &w : widgetsOf(*main))
            if (w.value("text"_L1).toString() == u"Kết nối Google Drive"_s &&
                w.value("class"_L1).toString() == "QPushButton"_L1)
                connect = w;
        ASSERT_TRUE(connect);
        click(centerOf(*connect));
        ASSERT_TRUE(waitUntil([&] { return findAnywhere(dump(), u"Đăng nhập Google"_s).has_value(); }));
        screenshot(u"connection-screen"_s);
        checkTexts(u"connection screen"_s);
        clickText(u"Đăng nhập Google"_s);
        ASSERT_TRUE(waitUntil([&] {
            return ask({{"cmd"_L1, u"state"_s}}).value("connected"_L1).toBool() &&
                   row(false, u"Thực đơn tiệc.pdf"_s, 100);
        })) << "sign-in did not finish";
        waitUntil([&] { return otherWindows(dump()).isEmpty(); }, 5000);
        closeOtherWindows();
    }
    checkpoint(u"signed-in"_s);

    // ---- a file and a folder dragged each way
    {
        showQueue();
        const QPoint dropOnDrive = centerOf(panesOf(dump())->drive);
        drag(*row(true, u"ghi chú.txt"_s), dropOnDrive);
        EXPECT_TRUE(waitState(u"ghi chú.txt"_s, {u"done"_s})) << "the file did not go up";
        drag(*row(true, u"Thư mục gửi"_s), dropOnDrive);
        EXPECT_TRUE(waitState(u"Thư mục gửi"_s, {u"done"_s})) << "the folder did not go up";
        screenshot(u"dragged-up"_s);

        const QPoint dropOnLocal = centerOf(panesOf(dump())->local);
        drag(*row(false, u"Ghi chú cuộc họp.txt"_s), dropOnLocal);
        EXPECT_TRUE(waitState(u"Ghi chú cuộc họp.txt"_s, {u"done"_s})) << "the file did not come down";
        ASSERT_NO_FATAL_FAILURE(openDriveFolder(u"Công việc"_s));
        drag(*row(false, u"Hợp đồng"_s), dropOnLocal);
        EXPECT_TRUE(waitState(u"Hợp đồng"_s, {u"done"_s})) << "the folder did not come down";
        ASSERT_TRUE(waitUntil([&] { return allFinished(); }));
        checkpoint(u"dragged-both-ways"_s, false);

        expectSameFile(localDir + u"/ghi chú.txt"_s, u"ghi chú.txt"_s);
        expectSameTree(localDir + u"/Thư mục gửi"_s, u"Thư mục gửi"_s);
        expectSameFile(localDir + u"/Ghi chú cuộc họp.txt"_s, u"Ghi chú cuộc họp.txt"_s);
        expectSameTree(localDir + u"/Hợp đồng"_s, u"Công việc/Hợp đồng"_s);

        // A Google document alone: "Tải xuống…" either is disabled or does something.
        click(*row(false, u"Kế hoạch 2025"_s));
        sweepActions(u"document selected"_s);
        // A Drive folder: its download asks where to.
        click(*row(false, u"Hợp đồng"_s));
        sweepActions(u"folder selected"_s);

        // The local pane's context menu offers the upload of the file under the pointer.
        click(*row(true, u"ghi chú.txt"_s), 3);
        std::optional<Json> item;
        waitUntil([&] {
            for (const Json &w : otherWindows(dump()))
                for (const Json &widget : widgetsOf(w))
                    for (const QJsonValue &i : widget.value("items"_L1).toArray())
                        if (i.toObject().value("text"_L1).toString() == u"Tải lên Google Drive"_s)
                            item = i.toObject();
            return item.has_value();
        }, 5000);
        screenshot(u"local-context-menu"_s);
        checkTexts(u"local context menu"_s);
        EXPECT_TRUE(item && item->value("enabled"_L1).toBool())
            << "the local context menu's \u201CTải lên Google Drive\u201D is not enabled";
        closeOtherWindows();
        ASSERT_NO_FATAL_FAILURE(driveBack());
    }

    // ---- seven transfers at once: seven downloads from three Drive folders, slowed down
    throttle(16 * 1024);
    const QStringList dalat{u"IMG_0412.jpg"_s, u"IMG_0413.jpg"_s,
                            u"Hồ Xuân Hương lúc bình minh.jpg"_s, u"Đồi chè Cầu Đất.jpg"_s};
    const QStringList tet{u"Gói bánh chưng.jpg"_s, u"Cả nhà đêm giao thừa.png"_s};
    const QString video = u"Bé tập đi.mov"_s;
    {
        // Each folder's files picked with Ctrl+click, then one drag takes them all.
        auto dragDown = [&](const QStringList &names) {
            click(*row(false, names.first()));
            xdo({u"keydown"_s, u"ctrl"_s});
            for (const QString &name : names.mid(1))
                click(*row(false, name));
            xdo({u"keyup"_s, u"ctrl"_s});
            drag(*row(false, names.first()), centerOf(panesOf(dump())->local));
            for (const QString &name : names)
                EXPECT_TRUE(waitUntil([&] { return transfer(name).has_value(); }))
                    << qPrintable(name) << " did not go into the queue";
        };
        // Finished rows go; the panel is pulled up by its handle to show the seven.
        clickText(u"Xóa đã xong"_s);
        EXPECT_TRUE(waitUntil([&] { return transfers().isEmpty(); }, 5000))
            << "“Xóa đã xong” left finished rows";
        if (const auto main = mainWindow(dump()))
            for (const Json &w : widgetsOf(*main))
                if (w.value("class"_L1).toString().endsWith("QueueResizeHandle"_L1))
                    drag(centerOf(w), centerOf(w) - QPoint(0, 260));
        ASSERT_NO_FATAL_FAILURE(openDriveFolder(u"Ảnh gia đình"_s));
        ASSERT_NO_FATAL_FAILURE(openDriveFolder(u"Đà Lạt 2023"_s));
        dragDown(dalat);
        ASSERT_NO_FATAL_FAILURE(driveBack());
        ASSERT_NO_FATAL_FAILURE(openDriveFolder(u"Tết 2024"_s));
        dragDown(tet);
        ASSERT_NO_FATAL_FAILURE(driveBack());
        ASSERT_NO_FATAL_FAILURE(openDriveFolder(u"Video"_s));
        dragDown({video});
        ASSERT_TRUE(waitUntil([&] {
            int working = 0, waiting = 0;
            for (const Json &t : transfers()) {
                working += t.value("state"_L1).toString() == "working"_L1;
                waiting += t.value("state"_L1).toString() == "waiting"_L1;
            }
            return working + waiting == 7;
        })) << "seven transfers did not run or wait together";
        // Nothing stays selected on Drive: "Tải xuống…" would fetch it again.
        click(*row(false, video), 1);
        key(u"ctrl+space"_s);
        screenshot(u"seven-at-once"_s);
        checkTexts(u"seven at once"_s);
        sweepActions(u"seven at once"_s, {u"Tải xuống…"_s});

        const QString paused = dalat[1];
        clickRowButton(paused, u"pause"_s);
        EXPECT_TRUE(waitState(paused, {u"paused"_s})) << "pause did not pause";
        checkpoint(u"paused"_s, false);
        clickRowButton(paused, u"resume"_s);
        EXPECT_TRUE(waitState(paused, {u"working"_s, u"waiting"_s})) << "resume did not resume";

        // Seven transfers, six slots: a cancel makes room, so every row left runs (a waiting row
        // has no pause button).
        const QString cancelled = dalat[3];
        clickRowButton(cancelled, u"cancel"_s);
        EXPECT_TRUE(waitState(cancelled, {u"cancelled"_s, QString()})) << "cancel did not cancel";

        // A double click on pause: paused and resumed at once, and pause still works after.
        const QString twice = dalat[0];
        const QString part = u"."_s + twice + u".tarnwick-part"_s;
        EXPECT_TRUE(waitState(twice, {u"working"_s}));
        waitUntil([&] { return partFiles().contains(part); }, 5000);
        clickRowButton(twice, u"pause"_s, 2);
        EXPECT_TRUE(waitState(twice, {u"working"_s}))
            << "a double click on pause did not end running";
        EXPECT_TRUE(partFiles().contains(part)) << "the double click lost the part file";
        clickRowButton(twice, u"pause"_s);
        EXPECT_TRUE(waitState(twice, {u"paused"_s}))
            << "pause after a double click did not pause";
        EXPECT_TRUE(partFiles().contains(part)) << "the pause lost the part file";
        clickRowButton(twice, u"resume"_s);

        // A refusal from Drive fails a download with its reason; retry takes it up again.
        const QString refused = tet[0];
        clickRowButton(refused, u"pause"_s);
        EXPECT_TRUE(waitState(refused, {u"paused"_s}))
            << "pause did not pause " << qPrintable(refused) << ", "
            << qPrintable(stateOf(refused));
        screenshot(u"refused-paused"_s);
        ask({{"cmd"_L1, u"fault"_s},
             {"rule"_L1, Json{{"method"_L1, u"GET"_s}, {"query"_L1, u"alt=media"_s},
                              {"status"_L1, 403}, {"times"_L1, 1}}}});
        clickRowButton(refused, u"resume"_s);
        EXPECT_TRUE(waitState(refused, {u"failed"_s})) << "the refusal did not fail it";
        {
            const auto r = queueRow(dump(), refused);
            ASSERT_TRUE(r);
            // The reason stands under the source, where a folder's current file does.
            QString reason;
            for (const QJsonValue &c : r->value("cells"_L1).toArray())
                if (c.toObject().value("column"_L1).toInt() == 1)
                    reason = c.toObject().value("description"_L1).toString();
            EXPECT_GT(reason.size(), 5) << "the failed row shows no reason";
        }
        checkpoint(u"failed"_s, false);
        throttle(16 * 1024); // the refusal rule is spent; keep the speed
        clickRowButton(refused, u"retry"_s);
        EXPECT_TRUE(waitState(refused, {u"working"_s, u"waiting"_s})) << "retry did not take it up";
        checkpoint(u"retried"_s, false);
    }

    // ---- quit while running, restart, and each answer of the restore prompt
    QStringList unfinished;
    for (const Json &t : transfers())
        if (t.value("state"_L1).toString() == "working"_L1 ||
            t.value("state"_L1).toString() == "waiting"_L1 ||
            t.value("state"_L1).toString() == "paused"_L1)
            unfinished << t.value("name"_L1).toString();
    EXPECT_GE(unfinished.size(), 5);
    ASSERT_NO_FATAL_FAILURE(quitWhileRunning());
    auto expectSaved = [&](const QString &when) {
        const QStringList saved = savedNames();
        for (const QString &name : unfinished)
            EXPECT_TRUE(saved.contains(name))
                << "[" << qPrintable(when) << "] the saved queue lost " << qPrintable(name);
    };
    expectSaved(u"quit while running"_s);
    EXPECT_TRUE(partFiles().contains(u".IMG_0412.jpg.tarnwick-part"_s));
    qint64 partSize = QFileInfo(localDir + u"/.IMG_0412.jpg.tarnwick-part"_s).size();

    // "Để sau": the transfers stay paused and saved.
    ASSERT_NO_FATAL_FAILURE(start(16 * 1024));
    ASSERT_NO_FATAL_FAILURE(answerRestore(u"Để sau"_s));
    showQueue();
    EXPECT_TRUE(waitUntil([&] {
        for (const QString &name : unfinished)
            if (stateOf(name) != "paused"_L1)
                return false;
        return true;
    })) << "\u201CĐể sau\u201D did not leave the transfers paused";
    checkpoint(u"restore-later"_s, false);
    focusMainWindow();
    key(u"ctrl+q"_s);
    if (waitUntil([&] { return findAnywhere(dump(), u"Dừng và thoát"_s).has_value() || !running(); },
                  5000) &&
        running())
        clickText(u"Dừng và thoát"_s);
    ASSERT_TRUE(waitForExit());
    expectSaved(u"quit after later"_s);

    // "Tiếp tục": they go on from where they stopped, now at full speed.
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(answerRestore(u"Tiếp tục"_s));
    EXPECT_TRUE(waitUntil([&] {
        const auto t = transfer(dalat[0]);
        return t && t->value("state"_L1).toString() != "paused"_L1;
    })) << "“Tiếp tục” did not resume";
    EXPECT_TRUE(waitUntil([&] {
        const auto t = transfer(dalat[0]);
        return t && t->value("done"_L1).toDouble() >= double(partSize);
    })) << "the download started over instead of going on";
    EXPECT_TRUE(waitUntil([&] { return allFinished(); }, 40000)) << "the transfers did not end";
    for (const QString &name : unfinished)
        EXPECT_EQ(stateOf(name), u"done"_s) << qPrintable(name);
    checkpoint(u"all-done"_s);
    for (const QString &image : dalat)
        if (image != dalat[3])
            expectSameFile(localDir + u'/' + image, u"Ảnh gia đình/Đà Lạt 2023/"_s + image);
    EXPECT_FALSE(QFileInfo::exists(localDir + u'/' + dalat[3])) << "the cancelled download landed";
    for (const QString &image : tet)
        expectSameFile(localDir + u'/' + image, u"Ảnh gia đình/Tết 2024/"_s + image);
    expectSameFile(localDir + u'/' + video, u"Ảnh gia đình/Video/"_s + video);
    EXPECT_TRUE(partFiles().isEmpty()) << qPrintable(partFiles().join(u", "_s));
    // What it keeps of them is finished, once the save that follows a change (2 s) is written.
    const auto savedUnfinished = [&] {
        QStringList names;
        for (const QJsonValue &v : savedQueue()) {
            if (v.toObject().value("done"_L1).toDouble() < v.toObject().value("total"_L1).toDouble())
                names.append(v.toObject().value("name"_L1).toString());
        }
        return names;
    };
    EXPECT_TRUE(waitUntil([&] { return savedUnfinished().isEmpty(); }, 8000))
        << "the saved queue holds " << qPrintable(savedUnfinished().join(u", "_s)) << " as unfinished";

    // "Luôn tự tiếp tục": a new slow download quits while running, then the option is on.
    const QString plan = u"Chương 10 - Chuỗi số.pdf"_s;
    throttle(16 * 1024);
    clickText(u"Drive của tôi"_s, u"SideButton"_s);
    ASSERT_NO_FATAL_FAILURE(openDriveFolder(u"Tài liệu học tập"_s));
    drag(*row(false, plan), centerOf(panesOf(dump())->local));
    ASSERT_TRUE(waitState(plan, {u"working"_s}));
    unfinished = {plan};
    ASSERT_NO_FATAL_FAILURE(quitWhileRunning());
    expectSaved(u"second quit while running"_s);
    ASSERT_NO_FATAL_FAILURE(start(16 * 1024));
    ASSERT_NO_FATAL_FAILURE(answerRestore(u"Luôn tự tiếp tục"_s));
    EXPECT_TRUE(waitState(plan, {u"working"_s, u"waiting"_s}));

    // ---- the menus by keyboard: F10 opens the first menu, arrows move, Return chooses; and
    // each menu title's Alt letter opens it. Auto-resume goes off this way.
    {
        focusMainWindow();
        auto openMenu = [&]() -> std::optional<Json> {
            for (const Json &w : otherWindows(dump()))
                if (w.value("popup"_L1).toBool())
                    for (const Json &widget : widgetsOf(w))
                        if (widget.contains("items"_L1))
                            return widget;
            return std::nullopt;
        };
        key(u"F10"_s);
        bool opened = waitUntil([&] { return openMenu().has_value(); }, 3000);
        EXPECT_TRUE(opened) << "F10 opened no menu";
        if (opened) {
            screenshot(u"menu-f10"_s);
            checkTexts(u"menu by F10"_s);
        }
        key(u"Escape"_s);
        key(u"Escape"_s);
        waitUntil([&] { return !openMenu(); }, 3000);

        bool autoResumeOff = false;
        const auto main = mainWindow(dump());
        ASSERT_TRUE(main);
        QJsonArray titles;
        for (const Json &w : widgetsOf(*main))
            if (w.contains("menus"_L1))
                titles = w.value("menus"_L1).toArray();
        EXPECT_EQ(titles.size(), 3);
        for (const QJsonValue &t : titles) {
            const QString title = t.toObject().value("text"_L1).toString();
            const qsizetype amp = title.indexOf(u'&');
            if (amp < 0 || amp + 1 >= title.size()) {
                ADD_FAILURE() << "the menu \u201C" << qPrintable(title) << "\u201D has no Alt letter";
                continue;
            }
            focusMainWindow();
            key(u"alt+"_s + title.at(amp + 1).toLower());
            const bool shown = waitUntil([&] { return openMenu().has_value(); }, 3000);
            EXPECT_TRUE(shown) << "Alt+" << qPrintable(title.at(amp + 1)) << " did not open \u201C"
                               << qPrintable(title) << "\u201D";
            if (!shown)
                continue;
            screenshot(u"menu-alt"_s);
            checkTexts(u"menu "_s + title);
            const Json menu = *openMenu();
            const QJsonArray items = menu.value("items"_L1).toArray();
            int index = -1;
            for (int i = 0; i < items.size(); ++i)
                if (items[i].toObject().value("text"_L1).toString().startsWith(u"Tự tiếp tục"_s))
                    index = i;
            if (index < 0) {
                key(u"Escape"_s);
                waitUntil([&] { return !openMenu(); }, 3000);
                continue;
            }
            // Down until the option is the active item, as the menu shows it.
            auto activeIsOption = [&] {
                const auto m = openMenu();
                if (!m)
                    return false;
                for (const QJsonValue &i : m->value("items"_L1).toArray())
                    if (i.toObject().value("active"_L1).toBool())
                        return i.toObject().value("text"_L1).toString().startsWith(u"Tự tiếp tục"_s);
                return false;
            };
            for (int i = 0; i < items.size() + 1 && !activeIsOption(); ++i)
                key(u"Down"_s);
            key(u"Return"_s);
            autoResumeOff = waitUntil([&] {
                for (const QJsonValue &a : mainWindow(dump())->value("actions"_L1).toArray())
                    if (a.toObject().value("text"_L1).toString().startsWith(u"Tự tiếp tục"_s))
                        return !a.toObject().value("checked"_L1).toBool();
                return false;
            }, 3000);
            EXPECT_TRUE(autoResumeOff) << "Return on the auto-resume option did not turn it off";
        }
        if (!autoResumeOff) { // go on with the journey all the same
            for (const QJsonValue &a : mainWindow(dump())->value("actions"_L1).toArray())
                if (a.toObject().value("text"_L1).toString().startsWith(u"Tự tiếp tục"_s) &&
                    a.toObject().value("checked"_L1).toBool())
                    ask({{"cmd"_L1, u"trigger"_s}, {"id"_L1, a.toObject().value("id"_L1).toString()}});
        }
        waitUntil([&] { return otherWindows(dump()).isEmpty(); }, 3000);
    }

    // "Bỏ các tác vụ này": quit while running once more; the prompt's discard forgets them.
    ASSERT_NO_FATAL_FAILURE(quitWhileRunning());
    expectSaved(u"third quit while running"_s);
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(answerRestore(u"Bỏ các tác vụ này"_s));
    EXPECT_TRUE(waitUntil([&] { return partFiles().isEmpty(); }))
        << "the discarded download left " << qPrintable(partFiles().join(u", "_s));
    EXPECT_FALSE(QFileInfo::exists(localDir + u'/' + plan));
    EXPECT_TRUE(waitUntil([&] {
        for (const QString &name : unfinished) {
            const QString state = stateOf(name);
            if (!state.isEmpty() && state != "cancelled"_L1)
                return false;
        }
        return true;
    })) << "the discarded transfers are still there";
    EXPECT_TRUE(waitUntil([&] {
        const QStringList saved = savedNames();
        return !saved.contains(plan);
    })) << "the saved queue still holds the discarded transfers";
    checkpoint(u"restore-discard"_s);

    // ---- a link download: the link sheet by Ctrl+L, the link typed, "Tải về ngay"
    {
        const QString id = driveId(u"Thực đơn tiệc.pdf"_s);
        ASSERT_FALSE(id.isEmpty());
        focusMainWindow();
        key(u"ctrl+l"_s);
        ASSERT_TRUE(waitUntil([&] { return findAnywhere(dump(), u"Tải về ngay"_s).has_value(); }))
            << "Ctrl+L opened no link sheet";
        typeText(u"https://drive.google.com/file/d/"_s + id + u"/view?usp=sharing"_s);
        checkpoint(u"link-sheet"_s, false);
        clickText(u"Tải về ngay"_s);
        EXPECT_TRUE(waitState(u"Thực đơn tiệc.pdf"_s, {u"done"_s}, 20000))
            << "the link download did not finish";
        waitUntil([&] { return otherWindows(dump()).isEmpty(); }, 3000);
        screenshot(u"link-downloaded"_s);
        checkTexts(u"link downloaded"_s);
        closeOtherWindows();
        expectSameFile(localDir + u"/Thực đơn tiệc.pdf"_s, u"Thực đơn tiệc.pdf"_s);
    }

    // ---- the folder upload chooser ("Tải thư mục lên…", Ctrl+Alt+U), the folder picked,
    // "Tải lên"
    {
        // From the local table: a search field would take the keys as its own.
        click(*row(true, u"ghi chú.txt"_s));
        key(u"ctrl+alt+u"_s);
        std::optional<Json> chooser;
        ASSERT_TRUE(waitUntil([&] {
            for (const Json &w : otherWindows(dump()))
                if (w.value("modal"_L1).toBool())
                    chooser = w;
            return chooser.has_value();
        })) << "Ctrl+Alt+U opened no chooser";
        std::optional<QPoint> folder;
        waitUntil([&] {
            for (const Json &w : otherWindows(dump()))
                for (const Json &widget : widgetsOf(w))
                    for (const Json &r : rowsOf(widget))
                        if (cellText(r, 0) == u"cho chọn"_s)
                            folder = rowPoint(r);
            return folder.has_value();
        });
        ASSERT_TRUE(folder) << "the chooser does not show the folder";
        click(*folder);
        checkpoint(u"upload-chooser"_s, false);
        std::optional<Json> accept;
        for (const Json &w : otherWindows(dump()))
            for (const Json &widget : widgetsOf(w))
                if (widget.value("class"_L1).toString() == "QPushButton"_L1 &&
                    widget.value("text"_L1).toString().startsWith(u"Tải lên"_s))
                    accept = widget;
        ASSERT_TRUE(accept) << "the chooser has no \u201CTải lên\u201D button";
        EXPECT_TRUE(accept->value("enabled"_L1).toBool())
            << "a folder picked in the chooser cannot be uploaded";
        click(centerOf(*accept));
        const bool uploaded = waitState(u"cho chọn"_s, {u"done"_s}, 15000);
        EXPECT_TRUE(uploaded) << "the folder picked in the chooser was not uploaded";
        closeOtherWindows();
        if (uploaded)
            expectSameTree(localDir + u"/cho chọn"_s, u"cho chọn"_s);
        checkpoint(u"folder-uploaded"_s);
    }

    focusMainWindow();
    key(u"ctrl+q"_s);
    EXPECT_TRUE(waitForExit()) << "Ctrl+Q did not quit an idle window";
    std::printf("journey: %lld s\n", static_cast<long long>(clock.elapsed() / 1000));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    for (const char *tool : {"xdotool", "openbox"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            std::printf("journey skipped: %s is not installed\n", tool);
            return skipStatus;
        }
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
