#include "appmodel.h"
#include "automation.h"
#include "common/icons.h"
#include "panes/localpane.h"
#include "window/mainwindow.h"
#include "window/sessionguard.h"
#include "common/palette.h"
#include "desktop/qtdesktop.h"

#include "async/async.h"
#include "net/endpoints.h"
#include "auth/googleauth.h"
#include "net/httpengine.h"
#include "auth/keychainstore.h"
#include "auth/oauthconfiguration.h"
#include "net/tarnwicknetwork.h"
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
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QUrlQuery>

#include <chrono>
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

// A folder with a few entries of several kinds, for a demo on a machine whose home folder is
// empty (a throwaway session).
QString demoFolder()
{
    const QDir home = QDir::home();
    const QStringList visible = home.entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    if (visible.size() >= 3)
        return home.absolutePath();
    const QString root = QDir::temp().filePath(u"tarnwick-demo"_s);
    QDir dir(root);
    for (const QString &sub : {u"Ảnh chuyến đi"_s, u"Tài liệu"_s, u"Dự án"_s})
        dir.mkpath(sub);
    auto write = [&](const QString &name, const QByteArray &bytes) {
        QFile f(dir.filePath(name));
        if (!f.exists() && f.open(QIODevice::WriteOnly))
            f.write(bytes);
    };
    write(u"Ghi chú.txt"_s, "Danh sách việc cần làm\n- Sao lưu ảnh lên Drive\n");
    write(u"Báo cáo quý 3.pdf"_s, QByteArray(182'400, 'p'));
    write(u"Ngân sách 2024.xlsx"_s, QByteArray(48'213, 'x'));
    write(u"Bản trình bày.pptx"_s, QByteArray(2'631'000, 's'));
    write(u"nhac-nen.mp3"_s, QByteArray(4'120'000, 'm'));
    write(u"README.md"_s, "# Tarnwick demo\n");
    if (!QFile::exists(dir.filePath(u"Bãi biển.png"_s))) {
        QImage image(640, 400, QImage::Format_RGB32);
        QPainter painter(&image);
        QLinearGradient sky(0, 0, 0, 400);
        sky.setColorAt(0, QColor(80, 170, 230));
        sky.setColorAt(1, QColor(240, 220, 170));
        painter.fillRect(image.rect(), sky);
        painter.end();
        image.save(dir.filePath(u"Bãi biển.png"_s));
    }
    return root;
}

// The start-up of the window: the model's start-up sequence, then the folder asked for on the
// command line (or, for a demo without a stored folder, a folder worth showing); then, when
// asked for, a screenshot of the window and the end of the process.
QCoro::Task<> start(AppModel *model, MainWindow *window, Options options)
{
    QPointer<AppModel> guard(model);
    if (options.demo) {
        // The demo's own keychain service holds the demo client, never a real one.
        auto storing = KeychainStore(KeychainStore::defaultService() + u"-demo"_s)
                           .save(demoClient.toJsonBytes(), KeychainStore::configurationAccount());
        co_await storing;
    }
    auto initializing = model->initialize();
    co_await initializing;
    if (!guard)
        co_return;
    if (options.demo && options.browserless && !model->connected()) {
        model->login();
        for (int i = 0; i < 500 && guard && (model->connecting() || !model->connected()); ++i) {
            auto pause = sleepFor(std::chrono::milliseconds(10), std::stop_token());
            co_await pause;
            if (guard && !model->connecting() && !model->connected())
                break;
        }
        for (int i = 0; i < 300 && guard && model->loading(); ++i) {
            auto pause = sleepFor(std::chrono::milliseconds(10), std::stop_token());
            co_await pause;
        }
        if (!guard)
            co_return;
    }
    if (!options.folder.isEmpty()) {
        auto listing = model->navigateLocal(options.folder);
        co_await listing;
    } else if (options.demo && !model->localURL()) {
        auto listing = model->navigateLocal(demoFolder());
        co_await listing;
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
    QCoreApplication::exit(saved ? 0 : 1);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(u"Tarnwick"_s);
    QCoreApplication::setApplicationName(u"Tarnwick"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));
    // Names the installed desktop entry, which also gives the window its launcher and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(TARNWICK_APP_ID));

    QCommandLineParser parser;
    parser.setApplicationDescription(u"Tarnwick: Google Drive on the Linux desktop"_s);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption screenshot(
        u"screenshot"_s, u"Save a picture of the window to PATH, then quit."_s, u"PATH"_s);
    const QCommandLineOption demo(u"demo"_s, u"Start in demo mode."_s);
    parser.addOption(screenshot);
    parser.addOption(demo);
    parser.addPositionalArgument(u"folder"_s, u"The local folder to open."_s, u"[folder]"_s);
    const bool automated = Automation::requested();
    if (automated)
        Automation::addOptions(parser);
    parser.process(app);

    Options options;
    options.screenshot = parser.value(screenshot);
    if (!options.screenshot.isEmpty())
        options.screenshot = QFileInfo(options.screenshot).absoluteFilePath();
    options.demo = parser.isSet(demo);
    if (automated)
        options.automation = Automation::read(parser);
    if (!parser.positionalArguments().isEmpty())
        options.folder = parser.positionalArguments().constFirst();

    // The theme first: the palette gives the application its icon, looked up there.
    Icons::prepareTheme();
    Palette::apply(app);

    KeychainStore keychain;
    if (!options.automation.keychainService.isEmpty())
        keychain = KeychainStore(options.automation.keychainService);
#ifdef TARNWICK_HAVE_EMULATOR
    std::unique_ptr<Emulator::DriveEmulator> emulator;
    if (options.demo) {
        // Settings, queue and tokens of the demo live apart from the real ones.
        QCoreApplication::setApplicationName(u"Tarnwick Demo"_s);
        keychain = KeychainStore(KeychainStore::defaultService() + u"-demo"_s);
        const QString platform = QGuiApplication::platformName();
        options.browserless =
            !options.screenshot.isEmpty() || platform == u"offscreen" || platform == u"minimal";
        Emulator::DriveEmulator::Options emulated;
        emulated.seedFile = QStringLiteral(TARNWICK_DEMO_SEED);
        emulator = std::make_unique<Emulator::DriveEmulator>(emulated);
        emulator->start();
        Endpoints::setCurrent(Endpoints::withBase(QUrl(emulator->baseUrl())));
    }
#endif

    QtDesktop desktop;
    AppModel model(&desktop, keychain);
    if (options.demo)
        model.auth().setBundledConfigurationPath(
            QDir::temp().filePath(u"tarnwick-demo-none.json"_s));
    MainWindow window(&model);
    desktop.setWindow(&window);
    SessionGuard sessionGuard(&model);
#ifdef TARNWICK_HAVE_EMULATOR
    if (emulator) {
        // The consent page opens in the browser like Google's; without one the demo approves by
        // itself and says so.
        const QString base = emulator->baseUrl();
        desktop.setUrlHandler([base, browserless = options.browserless, &window](const QUrl &url) {
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

    QTimer::singleShot(0, &window, [&] {
        detach(start(&model, &window, options), [](const std::exception &e) {
            std::fprintf(stderr, "tarnwick: start-up failed: %s\n", e.what());
        });
    });
    const int status = app.exec();
    // A save the queue asked for in its last 2 seconds would otherwise be lost with the process.
    model.flushSessionSave();
    return status;
}
