#pragma once

#include "transfer/transfer.h"

#include <QColor>
#include <QDateTime>
#include <QList>
#include <QString>

namespace Tarnwick::QueueTexts {

// What the queue panel and the status bar say about transfers, apart from any widget, so the
// wording can be checked on plain records.

// The state colours beside the palette's teal and muted.
QColor cyan();
QColor yellow();
QColor green();
QColor orange();

// The status cell: an optional symbol, its text and colour.
struct Status
{
    QString symbol; // empty: no icon
    QString text;
    QColor color;
};
Status status(const Transfer &t);

// "arrow.down.backward" for a download, "arrow.up.forward" for an upload.
QString directionSymbol(const Transfer &t);
// A folder symbol for several files, else the side's cloud or computer.
QString endSymbol(const Transfer &t, const TransferEnd &end);
// "name (3/12)" for a transfer of several files; empty for one file.
QString currentFileLine(const Transfer &t);
// The second line under the source: why a failed transfer failed, else the current file line.
struct SubLine
{
    QString symbol;
    QString text;
    QColor color;
};
SubLine subLine(const Transfer &t);
// The progress cell's text: the percentage, or "Đang chuẩn bị…" while there is none yet.
QString progressText(const Transfer &t);

QString sizeText(const Transfer &t);
QString speedText(const Transfer &t);
// "—" finished or idle, "?" while working without a usable speed, else the time left.
QString remainingText(const Transfer &t);
// "đã chạy 1p 5s" since the run started, for a working transfer; empty otherwise.
QString elapsedText(const Transfer &t, const QDateTime &now);
// "45s", "3p 20s", "2h 15p": the units of the remaining time.
QString durationText(qint64 seconds);

// Sub-row cells of one file in flight.
QString workerNameText(const FileInFlight &w);
QString workerProgressText(const FileInFlight &w);
QString workerSpeedText(const FileInFlight &w);
QString workerRemainingText(const FileInFlight &w);

// A row button: what it does, its symbol, help text and colour.
struct RowButton
{
    enum Kind { Pause, Resume, Retry, Cancel };
    Kind kind;
    QString symbol;
    QString hint;
    QColor color;
};
// Pause, resume or retry by state (or none), then always the cancel/remove button.
QList<RowButton> rowButtons(const Transfer &t);

// The header's counts: empty when nothing runs or waits.
QString headerCounts(const QList<Transfer> &transfers);
QString emptyQueueText();
// Some transfer is done, failed or cancelled: "Xóa đã xong" has work to do.
bool hasFinished(const QList<Transfer> &transfers);

// The status bar's line and the sidebar badge.
struct Activity
{
    QString text;
    QColor color; // invalid: the bar's muted default
    bool active = false; // something runs or waits
    int pending = 0;     // running + waiting, the badge
    QDateTime limitedUntil; // the soonest retry held back by Google's limits; invalid when none
};
Activity activity(const QList<Transfer> &transfers);

} // namespace Tarnwick::QueueTexts
