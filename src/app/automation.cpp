#include "automation.h"

#include "appmodel.h"
#include "connection/driveconnection.h"
#include "transfers/transfers.h"
#include "async/async.h"
#include "drive/driveclient.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QPointer>

#include <chrono>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

QCommandLineOption hidden(const QString &name, const QString &value = {})
{
    QCommandLineOption option(name, QString(), value);
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    return option;
}

void finish(int status, const char *why)
{
    if (why)
        std::fprintf(stderr, "tarnwick: automation: %s\n", why);
    std::fflush(stdout);
    QCoreApplication::exit(status);
}

bool busy(const QList<Transfer> &transfers)
{
    for (const Transfer &t : transfers) {
        if (t.state == TransferState::Waiting || t.state == TransferState::Working)
            return true;
    }
    return false;
}

} // namespace

bool Automation::requested()
{
    return qEnvironmentVariable("TARNWICK_AUTOMATION") == u"1"_s;
}

void Automation::addOptions(QCommandLineParser &parser)
{
    parser.addOption(hidden(u"keychain-service"_s, u"NAME"_s));
    parser.addOption(hidden(u"upload"_s, u"PATH"_s));
    parser.addOption(hidden(u"to"_s, u"DRIVE_FOLDER_ID"_s));
    parser.addOption(hidden(u"download"_s, u"DRIVE_ID"_s));
    parser.addOption(hidden(u"into"_s, u"FOLDER"_s));
    parser.addOption(hidden(u"quit-when-idle"_s));
}

Automation Automation::read(const QCommandLineParser &parser)
{
    Automation a;
    a.enabled = true;
    a.keychainService = parser.value(u"keychain-service"_s);
    for (const QString &path : parser.values(u"upload"_s))
        a.uploads.append(QDir(path).absolutePath());
    a.uploadParent = parser.value(u"to"_s);
    if (a.uploadParent.isEmpty())
        a.uploadParent = u"root"_s;
    a.downloads = parser.values(u"download"_s);
    a.downloadFolder = parser.value(u"into"_s);
    if (!a.downloadFolder.isEmpty())
        a.downloadFolder = QDir(a.downloadFolder).absolutePath();
    a.quitWhenIdle = parser.isSet(u"quit-when-idle"_s);
    return a;
}

QCoro::Task<> runAutomation(AppModel *model, Automation automation)
{
    QPointer<AppModel> guard(model);
    const bool enqueues = !automation.uploads.isEmpty() || !automation.downloads.isEmpty();
    if (enqueues && !model->connection().connected()) {
        finish(2, "not signed in");
        co_return;
    }
    if (!automation.uploads.isEmpty())
        model->transfers().enqueueUploads(automation.uploads, automation.uploadParent,
                              u"/"_s + automation.uploadParent);
    if (!automation.downloads.isEmpty()) {
        if (automation.downloadFolder.isEmpty() || !QDir().mkpath(automation.downloadFolder)) {
            finish(2, "no folder to download into");
            co_return;
        }
        QList<DriveFile> files;
        for (const QString &id : std::as_const(automation.downloads)) {
            auto looking = model->connection().drive().file(id);
            try {
                files.append(co_await looking);
            } catch (const std::exception &e) {
                finish(2, e.what());
                co_return;
            }
            if (!guard)
                co_return;
        }
        auto enqueuing = model->transfers().enqueueDownloads(files, automation.downloadFolder);
        co_await enqueuing;
        if (!guard)
            co_return;
    }
    if (enqueues)
        model->transfers().saveQueueNow();
    if (!automation.quitWhenIdle)
        co_return;

    while (guard && busy(model->transfers().list())) {
        auto pause = sleepFor(std::chrono::milliseconds(100), std::stop_token());
        co_await pause;
    }
    if (!guard)
        co_return;
    int done = 0, failed = 0, other = 0;
    for (const Transfer &t : model->transfers().list()) {
        if (t.state == TransferState::Done)
            ++done;
        else if (t.state == TransferState::Failed) {
            ++failed;
            std::fprintf(stderr, "tarnwick: automation: %s failed: %s\n", qPrintable(t.name),
                         qPrintable(t.detail));
        }
        else
            ++other;
    }
    std::printf("tarnwick: automation: done %d, failed %d, other %d\n", done, failed, other);
    finish(failed == 0 && other == 0 ? 0 : 3, nullptr);
}

} // namespace Tarnwick
