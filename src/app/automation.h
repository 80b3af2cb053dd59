#pragma once

#include <QCoroTask>
#include <QString>
#include <QStringList>

class QCommandLineParser;

namespace Tarnwick {

class AppModel;

// Lets end-to-end tests drive the real executable: only with TARNWICK_AUTOMATION=1 in the
// environment, and never listed by --help, so users neither see nor hit these options.
struct Automation
{
    bool enabled = false;
    QString keychainService; // empty: the default one
    QStringList uploads;     // local paths
    QString uploadParent;    // the Drive folder they go into
    QStringList downloads;   // Drive IDs
    QString downloadFolder;  // the local folder they go into
    bool quitWhenIdle = false;

    static bool requested();
    // Adds the hidden options; call before parsing, and only when requested().
    static void addOptions(QCommandLineParser &parser);
    static Automation read(const QCommandLineParser &parser);
};

// After the start-up (restore and auto-resume included): enqueues the transfers asked for, saves
// the session at once so that a kill right after loses nothing, and with quitWhenIdle ends the
// process once nothing waits or works. Exit status 0 when every transfer is done, 2 when the
// start failed, 3 when a transfer failed or stays paused.
QCoro::Task<> runAutomation(AppModel *model, Automation automation);

} // namespace Tarnwick
