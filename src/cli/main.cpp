#include "clioptions.h"
#include "clioutput.h"
#include "commands.h"
#include "interrupts.h"

#include "async/async.h"
#include "auth/keychainstore.h"
#include "net/tarnwicknetwork.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace Tarnwick;

namespace {

void print(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

QCoro::Task<> runCommand(Cli::Commands *commands)
{
    auto running = commands->run();
    const int code = co_await running;
    QCoreApplication::exit(code);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The window's names: the same settings, saved queue and data folder.
    QCoreApplication::setOrganizationName(u"Tarnwick"_s);
    QCoreApplication::setApplicationName(u"Tarnwick"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));

    Cli::Options options;
    try {
        options = Cli::Options::parse(app.arguments().mid(1));
    } catch (const Cli::UsageError &e) {
        print(stderr, u"tarnwick-cli: "_s + e.message
                          + u"\nXem \"tarnwick-cli --help\" để biết cách dùng.\n"_s);
        return Cli::Usage;
    }
    if (options.help) {
        print(stdout, Cli::helpText());
        return Cli::AllDone;
    }
    if (options.version) {
        print(stdout, u"tarnwick-cli "_s + QCoreApplication::applicationVersion() + u'\n');
        return Cli::AllDone;
    }

    // Tests keep their sign-in apart from the user's.
    const QString service = qEnvironmentVariable("TARNWICK_KEYCHAIN_SERVICE");
    const KeychainStore keychain(service.isEmpty() ? KeychainStore::defaultService() : service);

    int status = 0;
    {
        Cli::Output output(Cli::Output::detect(options.json));
        Cli::Commands commands(options, keychain, output);
        Cli::Interrupts interrupts;
        QObject::connect(&interrupts, &Cli::Interrupts::interrupted, &commands, [&](int count) {
            if (count == 1)
                commands.interrupt();
            else
                commands.quitNow();
        });
        QTimer::singleShot(0, &commands, [&] {
            detach(runCommand(&commands), [&output](const std::exception &e) {
                output.error(QString::fromUtf8(e.what()));
                QCoreApplication::exit(Cli::SomeFailed);
            });
        });
        status = app.exec();
        output.finish();
    }
    TarnwickNetwork::finishPendingWork();
    return status;
}
