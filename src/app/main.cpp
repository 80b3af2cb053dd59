#include "appmodel.h"
#include "browse/drivebrowser.h"
#include "browse/localbrowser.h"
#include "connection/driveconnection.h"
#include "transfers/transfers.h"
#include "automation.h"
#include "automationprobe.h"
#include "common/icons.h"
#include "common/palette.h"
#include "common/qtvietnamese.h"
#include "demofolder.h"
#include "desktop/qtdesktop.h"
#include "desktop/singleinstance.h"
#include "panes/localpane.h"
#include "sheets/donation.h"
#include "window/mainwindow.h"
#include "window/sessionguard.h"

#include "async/async.h"
#include "auth/googleauth.h"
#include "auth/keychainstore.h"
#include "auth/oauthconfiguration.h"
#include "net/endpoints.h"
#include "net/httpengine.h"
#include "net/tarnwicknetwork.h"
#include "records/errors.h"
#include "transfer/queuelock.h"
#include "transfer/transferqueue.h"
#ifdef TARNWICK_HAVE_EMULATOR
#include "driveemulator.h"
#endif

#include <QApplication>
#include <QCommandLineParser>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPointer>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QUrlQuery>

#include <algorithm>
#include <chrono>
#include <functional>
#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;
using namespace Tarnwick;

namespace {

struct Options
{
    QString screenshot;
    bool demo = false;
    // No browser can show the demo's consent page (offscreen, a screenshot run): it signs in by
    // itself.
    bool browserless = false;
    QString folder;
    // The refresh tokens the demo's Drive knows: a stored sign-in with another one (its Drive
    // started afresh, or another Drive's) would only end in a revoked-sign-in error.
    QSet<QString> demoRefreshTokens;
    Automation automation;
};

// Plays the browser for the demo's consent page: asked with prompt=none the emulator approves at
// once and redirects to the sign-in's loopback address, which is then visited.
QCoro::Task<> approveDemoSignIn(QUrl url)
{
    QUrlQuery query(url);
    query.removeAllQueryItems(u"prompt"_s);
    query.addQueryItem(u"prompt"_s, u"none"_s);
    url.setQuery(query);
    HttpRequest consent;
    consent.url = url;
    auto asking = TarnwickNetwork::session().send(std::move(consent));
    const HttpResponse answer = co_await asking;
    const QUrl redirect(QString::fromUtf8(answer.header("Location")));
    if (!redirect.isValid() || redirect.isEmpty())
        co_return;
    HttpRequest back;
    back.url = redirect;
    auto returning = TarnwickNetwork::session().send(std::move(back));
    co_await returning;
}

// The OAuth client the demo's emulated Drive knows.
const OAuthConfiguration demoClient{u"tarnwick-demo.apps.googleusercontent.com"_s,
                                    u"GOCSPX-tarnwick-demo"_s};

// The folder a demo shows on the local side: the home folder when it has something to show, else
// the sample folder in the demo's own data folder.
std::optional<QString> demoFolder()
{
    const QDir home = QDir::home();
    const QStringList visible = home.entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    if (visible.size() >= 3)
        return home.absolutePath();
    return DemoFolder::prepare(
        QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation));
}

// The start-up of the window: the model's start-up sequence, then the folder asked for on the
// command line (or, for a demo without a stored folder, a folder worth showing); then, when
// asked for, a screenshot of the window and the end of the process.
QCoro::Task<> start(AppModel *model, MainWindow *window, Options options)
{
    QPointer<AppModel> guard(model);
    if (options.demo) {
        // The demo's own keychain service holds the demo client, never a real one.
        const KeychainStore demoKeychain(KeychainStore::defaultService() + u"-demo"_s);
        auto storing =
            demoKeychain.save(demoClient.toJsonBytes(), KeychainStore::configurationAccount());
        co_await storing;
        try {
            auto reading = demoKeychain.read(KeychainStore::tokensAccount());
            const std::optional<QByteArray> stored = co_await reading;
            const QString refresh =
                stored
                    ? QJsonDocument::fromJson(*stored).object().value("refreshToken"_L1).toString()
                    : QString();
            if (stored && !options.demoRefreshTokens.contains(refresh)) {
                auto forgetting = demoKeychain.remove(KeychainStore::tokensAccount());
                co_await forgetting;
            }
        } catch (const std::exception &e) {
            std::fprintf(stderr, "tarnwick: cannot check the demo's sign-in: %s\n", e.what());
        }
    }
    auto initializing = model->initialize();
    co_await initializing;
    if (!guard)
        co_return;
    if (options.demo && options.browserless && !model->connection().connected()) {
        model->connection().login();
        for (int i = 0; i < 500 && guard && (model->connection().connecting() || !model->connection().connected()); ++i) {
            auto pause = sleepFor(std::chrono::milliseconds(10), std::stop_token());
            co_await pause;
            if (guard && !model->connection().connecting() && !model->connection().connected())
                break;
        }
        for (int i = 0; i < 300 && guard && model->cloud().loading(); ++i) {
            auto pause = sleepFor(std::chrono::milliseconds(10), std::stop_token());
            co_await pause;
        }
        if (!guard)
            co_return;
        // A picture of a demo that could not sign in shows nothing worth having.
        if (!options.screenshot.isEmpty() && !model->connection().connected())
            throw TarnwickError(u"the demo did not sign in to its emulated Drive"_s);
    }
    if (!options.folder.isEmpty() && !QFileInfo(options.folder).isDir()) {
        std::fprintf(stderr, "tarnwick: no such folder: %s\n", qPrintable(options.folder));
        model->setError(u"Không mở được thư mục \u201C"_s + options.folder +
                        u"\u201D: thư mục này không tồn tại."_s);
    } else if (!options.folder.isEmpty()) {
        auto listing = model->local().navigateLocal(options.folder);
        co_await listing;
    } else if (options.demo && !model->local().localURL()) {
        if (const std::optional<QString> folder = demoFolder()) {
            auto listing = model->local().navigateLocal(*folder);
            co_await listing;
        }
    }
    if (options.automation.enabled && guard) {
        co_await runAutomation(model, options.automation);
        co_return;
    }
    if (options.screenshot.isEmpty() || !guard)
        co_return;

    // Let the table take its rows and the window paint them.
    for (int i = 0; i < 200 && !window->localPane()->rowsCurrent(); ++i) {
        auto pause = sleepFor(std::chrono::milliseconds(10), std::stop_token());
        co_await pause;
    }
    auto settle = sleepFor(std::chrono::milliseconds(300), std::stop_token());
    co_await settle;
    QDir().mkpath(QFileInfo(options.screenshot).absolutePath());
    const bool saved = window->grab().save(options.screenshot, "PNG");
    if (!saved)
        std::fprintf(stderr, "tarnwick: cannot write the screenshot to %s\n",
                     qPrintable(options.screenshot));
    // What the picture shows, for scripts that check a start-up.
    std::printf("tarnwick: %s; %s\n", model->connection().connected() ? "signed in" : "signed out",
                model->error() ? qPrintable(u"error: "_s + *model->error()) : "no error");
    std::fflush(stdout);
    QCoreApplication::exit(saved ? 0 : 1);
}

#ifdef TARNWICK_HAVE_EMULATOR
// Contents move at this many bytes a second, both ways, while listings stay fast; 0: at full
// speed.
void throttleDemoDrive(Emulator::DriveEmulator &emulator, qint64 bytesPerSecond)
{
    emulator.clearFaults();
    if (bytesPerSecond <= 0)
        return;
    Emulator::FaultRule uploads = Emulator::FaultRule::throttle(bytesPerSecond, {}, u"^/upload/"_s);
    uploads.times = 0;
    emulator.addFault(uploads);
    Emulator::FaultRule downloads = Emulator::FaultRule::throttle(bytesPerSecond);
    downloads.query = u"alt=media"_s;
    downloads.times = 0;
    emulator.addFault(downloads);
}

// The demo Drive's side of the automation probe: its speed, its faults, and its files with their
// digests.
QJsonObject answerDemoDrive(Emulator::DriveEmulator &emulator, const QString &email,
                            const QJsonObject &request)
{
    const QString command = request.value("cmd"_L1).toString();
    if (command == "throttle"_L1) {
        throttleDemoDrive(emulator, qint64(request.value("bytesPerSecond"_L1).toDouble()));
        return {{"ok"_L1, true}};
    }
    if (command == "fault"_L1) {
        try {
            return {{"id"_L1, emulator.addFault(
                                  Emulator::FaultRule::fromJson(request.value("rule"_L1).toObject()))}};
        } catch (const std::exception &e) {
            return {{"error"_L1, QString::fromUtf8(e.what())}};
        }
    }
    if (command != "drive"_L1)
        return {};
    const bool hashes = request.value("hashes"_L1).toBool();
    QJsonArray items;
    std::function<void(const QString &, const QString &)> walk = [&](const QString &folder,
                                                                     const QString &path) {
        for (const QString &id : emulator.childIds(folder)) {
            const auto meta = emulator.itemMetadata(id, email, u"name,mimeType,trashed,size"_s);
            if (!meta || meta->value("trashed"_L1).toBool())
                continue;
            const QString name = meta->value("name"_L1).toString();
            const bool isFolder =
                meta->value("mimeType"_L1).toString() == u"application/vnd.google-apps.folder"_s;
            const QString mime = meta->value("mimeType"_L1).toString();
            QJsonObject item{{"path"_L1, path + name}, {"id"_L1, id}, {"folder"_L1, isFolder}};
            // The demo's large files would take long to hash, and no journey moves them.
            const qint64 size = meta->value("size"_L1).toString().toLongLong();
            if (hashes && !isFolder && !mime.startsWith(u"application/vnd.google-apps."_s) &&
                size <= 64 * 1024 * 1024)
                item.insert("sha256"_L1, emulator.contentSha256(id));
            items.append(item);
            if (isFolder)
                walk(id, path + name + u'/');
        }
    };
    walk(emulator.rootFolderId(email), {});
    return {{"items"_L1, items}};
}

// The demo's Drive keeps what the user did in it between starts, in the demo's data folder; a
// saved state it cannot read is started afresh from the seed.
std::unique_ptr<Emulator::DriveEmulator> startDemoDrive(Options &options)
{
    const QString dataDir =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + u"/demo-drive"_s;
    Emulator::DriveEmulator::Options emulated;
    emulated.seedFile = QStringLiteral(TARNWICK_DEMO_SEED);
    emulated.dataDir = dataDir;
    // Any local user can reach the port: nothing there may reset or rewrite the demo's world.
    emulated.control = false;
    std::unique_ptr<Emulator::DriveEmulator> emulator;
    try {
        QDir().mkpath(dataDir);
        emulator = std::make_unique<Emulator::DriveEmulator>(emulated);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "tarnwick: the demo starts its Drive afresh: %s\n", e.what());
        QDir(dataDir).removeRecursively();
        QDir().mkpath(dataDir);
        try {
            emulator = std::make_unique<Emulator::DriveEmulator>(emulated);
        } catch (const std::exception &) {
            emulated.dataDir.clear(); // a folder it cannot write: keep nothing
            emulator = std::make_unique<Emulator::DriveEmulator>(emulated);
        }
    }
    // Saved upload sessions name the Drive's address: the same port at every start lets them
    // resume as they would against Google. Another program on it costs only those sessions.
    QFile portFile(QDir(dataDir).filePath(u"port"_s));
    quint16 port = 0;
    if (portFile.open(QIODevice::ReadOnly))
        port = quint16(std::clamp(portFile.readAll().trimmed().toInt(), 0, 65535));
    portFile.close();
    try {
        try {
            emulator->start(port);
        } catch (const std::exception &) {
            if (port == 0)
                throw;
            emulator->start(0);
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "tarnwick: the demo's emulated Drive did not start: %s\n", e.what());
        return nullptr;
    }
    if (emulator->port() != port && portFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
        portFile.write(QByteArray::number(emulator->port()));
    // A journey test needs transfers slow enough to be caught in flight.
    if (options.automation.enabled)
        throttleDemoDrive(*emulator, qEnvironmentVariableIntValue("TARNWICK_AUTOMATION_THROTTLE"));
    for (const QJsonValue &token : emulator->stateJson().value("refreshTokens"_L1).toArray())
        options.demoRefreshTokens.insert(token.toObject().value("token"_L1).toString());
    return emulator;
}
#endif

// Qt's own texts (file choosers, message boxes, the edit menu of text fields) in Vietnamese.
void installTranslations(QApplication &app)
{
    QtVietnameseTranslator::install(app);
}

// The command line, set up the same way whether or not a display is there.
struct CommandLine
{
    QCommandLineParser parser;
    QCommandLineOption screenshot{u"screenshot"_s,
                                  u"Save a picture of the window to PATH, then quit."_s, u"PATH"_s};
    QCommandLineOption demo{u"demo"_s, u"Start in demo mode."_s};

    CommandLine()
    {
        parser.setApplicationDescription(u"Tarnwick: Google Drive on the Linux desktop"_s);
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOption(screenshot);
        parser.addOption(demo);
        parser.addPositionalArgument(u"folder"_s, u"The local folder to open."_s, u"[folder]"_s);
    }
};

void nameApplication()
{
    QCoreApplication::setOrganizationName(u"Tarnwick"_s);
    QCoreApplication::setApplicationName(u"Tarnwick"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));
}

// --help and --version answer without a window, so they work without a display too.
void answerInformationRequests(int argc, char **argv)
{
    bool asked = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--")
            break;
        asked = asked || arg == "-h" || arg == "--help" || arg == "--help-all" || arg == "-v" ||
                arg == "--version" || arg == "-?";
    }
    if (!asked)
        return;
    QCoreApplication core(argc, argv);
    nameApplication();
    CommandLine line;
    line.parser.process(core); // prints and exits
}

} // namespace

int main(int argc, char **argv)
{
    answerInformationRequests(argc, argv);

    QApplication app(argc, argv);
    nameApplication();
    // Names the installed desktop entry, which also gives the window its launcher and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(TARNWICK_APP_ID));

    CommandLine line;
    QCommandLineParser &parser = line.parser;
    const bool automated = Automation::requested();
    if (automated)
        Automation::addOptions(parser);
    parser.process(app);

    Options options;
    options.screenshot = parser.value(line.screenshot);
    if (!options.screenshot.isEmpty())
        options.screenshot = QFileInfo(options.screenshot).absoluteFilePath();
    options.demo = parser.isSet(line.demo);
    if (automated)
        options.automation = Automation::read(parser);
    if (!parser.positionalArguments().isEmpty())
        options.folder = QFileInfo(parser.positionalArguments().constFirst()).absoluteFilePath();

    installTranslations(app);
    // The theme first: the palette gives the application its icon, looked up there.
    Icons::prepareTheme();
    Palette::apply(app);

    KeychainStore keychain;
    if (!options.automation.keychainService.isEmpty())
        keychain = KeychainStore(options.automation.keychainService);
    if (options.demo) {
        // Settings, queue and tokens of the demo live apart from the real ones.
        QCoreApplication::setApplicationName(u"Tarnwick Demo"_s);
        keychain = KeychainStore(KeychainStore::defaultService() + u"-demo"_s);
    }

    // A second start over the same settings and keychain item raises the first window. A
    // screenshot run is a tool of its own and never stands in for the user's window.
    SingleInstance instance(QSettings().fileName() + u'|' + keychain.service());
    if (options.screenshot.isEmpty() && !instance.claimOrForward({options.folder}))
        return 0;
    // tarnwick-cli refuses to run the saved queue while the window holds it. A command line that
    // runs it now keeps it: the window then leaves the saved queue alone.
    QueueLock queueLock;
    const bool savedQueueElsewhere = !queueLock.tryLock();
    if (savedQueueElsewhere)
        std::fprintf(stderr, "tarnwick: tarnwick-cli is running the saved queue; this window "
                             "neither restores nor saves it\n");

#ifdef TARNWICK_HAVE_EMULATOR
    std::unique_ptr<Emulator::DriveEmulator> emulator;
    if (options.demo) {
        const QString platform = QGuiApplication::platformName();
        options.browserless =
            !options.screenshot.isEmpty() || platform == u"offscreen" || platform == u"minimal";
        emulator = startDemoDrive(options);
        if (!emulator)
            return 1;
        Endpoints::setCurrent(Endpoints::withBase(QUrl(emulator->baseUrl())));
    }
#endif

    int status = 0;
    {
        QtDesktop desktop;
        AppModel model(&desktop, keychain);
        if (savedQueueElsewhere)
            model.transfers().queue().leaveSavedQueue();
        // The demo signs in with its own client only, never one read from a file.
        if (options.demo)
            model.connection().auth().setBundledConfigurationPath(QString());
        MainWindow window(&model);
        desktop.setWindow(&window);
        SessionGuard sessionGuard(&model.transfers());
        if (options.demo)
            window.setDonation(DonationDetails::demoSample());
        QObject::connect(&instance, &SingleInstance::requested, &window,
                         [&window, &model](const QStringList &request) {
                             if (window.isMinimized())
                                 window.showNormal();
                             window.raise();
                             window.activateWindow();
                             const QString folder = request.value(0);
                             if (!folder.isEmpty() && QFileInfo(folder).isDir())
                                 detach(model.local().navigateLocal(folder), {});
                         });
#ifdef TARNWICK_HAVE_EMULATOR
        if (emulator) {
            // The consent page opens in the browser like Google's; without one the demo approves by
            // itself and says so.
            const QString base = emulator->baseUrl();
            // A journey test drives the window itself and never waits for a browser.
            desktop.setUrlHandler([base,
                                   browserless = options.browserless || options.automation.enabled,
                                   &window](const QUrl &url) {
                if (!url.toString().startsWith(base + u"/o/oauth2/"_s))
                    return false;
                if (!browserless && QDesktopServices::openUrl(url))
                    return true;
                window.setConnectionNote(
                    u"Bản demo không mở được trình duyệt nên đã tự cho phép đăng nhập vào Drive mô "
                    u"phỏng."_s);
                detach(approveDemoSignIn(url), {});
                return true;
            });
        }
#endif
        window.show();
        std::unique_ptr<AutomationProbe> probe;
        if (options.automation.enabled) {
            AutomationProbe::Extension extension;
#ifdef TARNWICK_HAVE_EMULATOR
            if (emulator)
                extension = [drive = emulator.get(), &model](const QJsonObject &request) {
                    return answerDemoDrive(*drive, model.connection().accountEmail(), request);
                };
#endif
            probe = std::make_unique<AutomationProbe>(&model, std::move(extension));
            probe->listen();
        }

        QTimer::singleShot(0, &window, [&] {
            detach(start(&model, &window, options),
                   [exitOnFailure = !options.screenshot.isEmpty()](const std::exception &e) {
                       std::fprintf(stderr, "tarnwick: start-up failed: %s\n", e.what());
                       // A screenshot run has nobody to wait for: it ends at once with an error.
                       if (exitOnFailure)
                           QCoreApplication::exit(1);
                   });
        });
        status = app.exec();
        // A save the queue asked for in its last 2 seconds would otherwise be lost with the
        // process.
        model.transfers().flushQueueSave();
    }
    TarnwickNetwork::finishPendingWork();
    return status;
}
