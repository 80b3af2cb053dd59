// tarnwick-drive-emulator: the Drive emulator as its own process (demo, benchmarks, restart tests).
#include "driveemulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <exception>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    (void)::write(signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"tarnwick-drive-emulator"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"A local Google Drive v3 and OAuth 2.0 server for Tarnwick's tests, benchmarks and demo."_s);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption port(u"port"_s, u"Port on 127.0.0.1 (0: any free port)."_s, u"N"_s,
                                  u"0"_s);
    const QCommandLineOption seed(u"seed"_s, u"JSON description of users, items and contents."_s,
                                  u"FILE"_s);
    const QCommandLineOption dataDir(
        u"data-dir"_s, u"Keep state in DIR across restarts (default: memory)."_s, u"DIR"_s);
    const QCommandLineOption token(
        u"access-token"_s,
        u"A bearer token that is always valid, for the seed's first user (repeatable)."_s,
        u"TOKEN"_s);
    const QCommandLineOption autoConsent(
        u"auto-consent"_s, u"The authorization endpoint approves at once and redirects."_s);
    const QCommandLineOption verbose(u"verbose"_s, u"Print one line per request on stderr."_s);
    const QCommandLineOption limits(
        u"limits"_s,
        u"Google's per-user limits as JSON (or @FILE), as POST /__control/limits takes them."_s,
        u"JSON"_s);
    const QCommandLineOption writeRate(
        u"write-rate"_s, u"Item creations a second per user (0: no limit)."_s, u"N"_s);
    const QCommandLineOption writeBurst(
        u"write-burst"_s, u"Item creations a user may make at once before the rate applies."_s,
        u"N"_s);
    const QCommandLineOption queryRate(u"queries-per-minute"_s,
                                       u"Requests a minute per user (0: no limit)."_s, u"N"_s);
    const QCommandLineOption dailyUpload(u"daily-upload-bytes"_s,
                                         u"Bytes a user may upload a day (0: no cap)."_s, u"N"_s);
    const QCommandLineOption limitsClock(
        u"limits-clock"_s,
        u"steady (default) or manual: the limits' time moves only through POST /__control/clock."_s,
        u"CLOCK"_s, u"steady"_s);
    parser.addOptions({port, seed, dataDir, token, autoConsent, verbose, limits, writeRate,
                       writeBurst, queryRate, dailyUpload, limitsClock});
    parser.process(app);

    bool portOk = false;
    const uint portNumber = parser.value(port).toUInt(&portOk);
    if (!portOk || portNumber > 65535) {
        std::fprintf(stderr, "tarnwick-drive-emulator: --port needs a number from 0 to 65535\n");
        return 2;
    }
    Tarnwick::Emulator::DriveEmulator::Options options;
    options.port = quint16(portNumber);
    options.seedFile = parser.value(seed);
    options.dataDir = parser.value(dataDir);
    options.accessTokens = parser.values(token);
    options.autoConsent = parser.isSet(autoConsent);
    options.verbose = parser.isSet(verbose);
    try {
        QJsonObject json;
        if (parser.isSet(limits)) {
            QByteArray text = parser.value(limits).toUtf8();
            if (text.startsWith('@')) {
                QFile file(QString::fromUtf8(text.mid(1)));
                if (!file.open(QIODevice::ReadOnly))
                    throw std::invalid_argument("cannot read " + text.mid(1).toStdString());
                text = file.readAll();
            }
            const QJsonDocument doc = QJsonDocument::fromJson(text);
            if (!doc.isObject())
                throw std::invalid_argument("--limits needs a JSON object");
            json = doc.object();
        }
        const QList<QPair<const QCommandLineOption *, QString>> shortcuts{
            {&writeRate, u"writesPerSecond"_s},
            {&writeBurst, u"writeBurst"_s},
            {&queryRate, u"queriesPerMinute"_s},
            {&dailyUpload, u"dailyUploadBytes"_s}};
        for (const auto &[option, key] : shortcuts)
            if (parser.isSet(*option))
                json.insert(key, parser.value(*option));
        options.limits = options.limits.patched(json);
        if (parser.value(limitsClock) == u"manual"_s)
            options.limitClock = [] { return std::chrono::nanoseconds(0); };
        else if (parser.value(limitsClock) != u"steady"_s)
            throw std::invalid_argument("--limits-clock is steady or manual");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "tarnwick-drive-emulator: %s\n", e.what());
        return 2;
    }

    std::unique_ptr<Tarnwick::Emulator::DriveEmulator> emulator;
    try {
        emulator = std::make_unique<Tarnwick::Emulator::DriveEmulator>(options);
        emulator->start();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "tarnwick-drive-emulator: %s\n", e.what());
        return 1;
    }

    // SIGINT/SIGTERM end the event loop so the state is saved on the way out.
    if (::pipe(signalPipe) == 0) {
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app,
                     [] { QCoreApplication::quit(); });

    std::printf("listening on %s\n", qPrintable(emulator->baseUrl()));
    std::fflush(stdout);
    const int status = app.exec();
    emulator->stop();
    return status;
}
