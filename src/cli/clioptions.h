#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace Tarnwick::Cli {

// What the process ends with; scripts tell the outcomes apart by it.
enum ExitCode : int {
    AllDone = 0,
    SomeFailed = 1,
    Usage = 2,
    NotSignedIn = 3,
    NoConnection = 4,
    // Paused by Ctrl+C: "resume" goes on from there (the shell's code for an interrupt).
    Interrupted = 130,
};

// The command line, read.
struct Options
{
    QString command; // login, logout, whoami, ls, mkdir, put, get, queue, resume, trash
    QStringList arguments;
    bool json = false;
    bool help = false;
    bool version = false;
    bool noBrowser = false; // login
    std::optional<QString> configFile; // login --config FILE: a developer's Google client JSON
    bool longList = false;  // ls -l
    bool shared = false;    // ls --shared
    std::optional<QString> sharedDrive; // ls --drive NAME

    // The command line without the program's name. Throws UsageError.
    static Options parse(const QStringList &arguments);
};

// A command line that cannot be run; its message says why.
struct UsageError
{
    QString message;
};

// The --help text.
QString helpText();

} // namespace Tarnwick::Cli
