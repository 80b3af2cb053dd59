#include "queue/queuetexts.h"

#include "common/palette.h"

#include "records/byteformat.h"
#include "records/diskspaceutilities.h"

#include <cmath>

using namespace Qt::StringLiterals;

namespace Tarnwick::QueueTexts {

QColor cyan()
{
    return QColor::fromRgbF(0.39f, 0.82f, 1.0f);
}
QColor yellow()
{
    return QColor::fromRgbF(1.0f, 0.84f, 0.04f);
}
QColor green()
{
    return QColor::fromRgbF(0.2f, 0.84f, 0.29f);
}
QColor orange()
{
    return QColor::fromRgbF(1.0f, 0.62f, 0.04f);
}

Status status(const Transfer &t)
{
    switch (t.state) {
    case TransferState::Waiting:
        return {u"clock"_s, u"Đang chờ"_s, Palette::muted()};
    case TransferState::Working: {
        const int percent = t.percentage();
        return {{}, percent < 1 ? u"Đang chạy"_s : QString::number(percent) + u'%', Palette::teal()};
    }
    case TransferState::Paused:
        return {u"pause.fill"_s, u"Tạm dừng"_s, yellow()};
    case TransferState::Done:
        return {u"checkmark"_s, u"Hoàn tất"_s, green()};
    case TransferState::Failed:
        return {u"exclamationmark.triangle.fill"_s, u"Lỗi"_s, orange()};
    case TransferState::Cancelled:
        return {u"xmark"_s, u"Đã hủy"_s, Palette::muted()};
    }
    return {};
}

QString directionSymbol(const Transfer &t)
{
    return t.isUpload() ? u"arrow.up.forward"_s : u"arrow.down.backward"_s;
}

QString endSymbol(const Transfer &t, const TransferEnd &end)
{
    if (t.totalFilesCount >= 2)
        return u"folder.fill"_s;
    return end.isCloud ? u"cloud.fill"_s : u"laptopcomputer"_s;
}

QString currentFileLine(const Transfer &t)
{
    if (t.totalFilesCount < 2)
        return {};
    return t.currentFileName + u" ("_s + QString::number(t.currentFileIndex) + u'/' +
           QString::number(t.totalFilesCount) + u')';
}

SubLine subLine(const Transfer &t)
{
    if (t.state == TransferState::Failed && !t.detail.isEmpty())
        return {u"exclamationmark.triangle.fill"_s, t.detail, orange()};
    if (t.state == TransferState::Working && t.limitedUntil.isValid())
        return {u"clock"_s, TransferDetail::limitWait(t.limitedUntil), yellow()};
    if (t.state == TransferState::Paused && !t.heldBecause.isEmpty())
        return {u"pause.fill"_s, t.heldBecause, yellow()};
    const QString current = currentFileLine(t);
    if (current.isEmpty())
        return {};
    return {u"arrow.turn.down.right"_s, current, Palette::teal()};
}

QString progressText(const Transfer &t)
{
    return t.preparing() ? u"Đang chuẩn bị…"_s : QString::number(t.percentage()) + u'%';
}

QString sizeText(const Transfer &t)
{
    return DiskSpaceUtilities::formatTransferSize(t.done, t.total);
}

QString speedText(const Transfer &t)
{
    if (t.state == TransferState::Working && t.speed > 0)
        return formatSpeed(t.speed);
    return u"—"_s;
}

QString remainingText(const Transfer &t)
{
    if (t.state != TransferState::Working)
        return u"—"_s;
    if (t.speed > 0 && std::isfinite(t.speed) && t.done < t.total) {
        const QString left = formatRemainingTime(double(t.total - t.done) / t.speed);
        if (!left.isEmpty())
            return left;
    }
    return u"?"_s;
}

QString durationText(qint64 s)
{
    if (s < 60)
        return QString::number(std::max<qint64>(s, 0)) + u's';
    if (s < 3600) {
        QString text = QString::number(s / 60) + u'p';
        if (s % 60 != 0)
            text += u' ' + QString::number(s % 60) + u's';
        return text;
    }
    return QString::number(s / 3600) + "h "_L1 + QString::number((s % 3600) / 60) + u'p';
}

QString elapsedText(const Transfer &t, const QDateTime &now)
{
    if (t.state != TransferState::Working || !t.started || !t.started->isValid())
        return {};
    // A clock set back shows zero rather than a negative time.
    return u"đã chạy "_s + durationText(std::max<qint64>(t.started->secsTo(now), 0));
}

QString workerNameText(const FileInFlight &w)
{
    return w.fileName + u" ["_s + QString::number(w.fileIndex) + u'/' +
           QString::number(w.totalFiles) + u']';
}

QString workerProgressText(const FileInFlight &w)
{
    const int percent = w.percentage();
    return percent < 1 ? u"Đang tải…"_s : QString::number(percent) + u'%';
}

QString workerSpeedText(const FileInFlight &w)
{
    return w.speed > 0 ? formatSpeed(w.speed) : QString();
}

QString workerRemainingText(const FileInFlight &w)
{
    if (w.speed > 0 && std::isfinite(w.speed) && w.done < w.total) {
        const QString left = formatRemainingTime(double(w.total - w.done) / w.speed);
        if (!left.isEmpty())
            return left;
    }
    return u"—"_s;
}

QList<RowButton> rowButtons(const Transfer &t)
{
    QList<RowButton> buttons;
    switch (t.state) {
    case TransferState::Working:
        buttons.append({RowButton::Pause, u"pause.fill"_s, u"Tạm dừng"_s, Palette::muted()});
        break;
    case TransferState::Paused:
        buttons.append({RowButton::Resume, u"play.fill"_s, u"Tiếp tục"_s, Palette::teal()});
        break;
    case TransferState::Failed:
        buttons.append(
            {RowButton::Retry, u"arrow.clockwise"_s, u"Thử lại từ chỗ đã dừng"_s, Palette::teal()});
        break;
    default:
        break;
    }
    QColor cancel = Palette::muted();
    cancel.setAlphaF(0.8f);
    buttons.append({RowButton::Cancel, u"xmark"_s,
                    isFinished(t.state) ? u"Xóa khỏi danh sách"_s : u"Hủy tác vụ"_s, cancel});
    return buttons;
}

QString headerCounts(const QList<Transfer> &transfers)
{
    int running = 0;
    int queued = 0;
    for (const Transfer &t : transfers) {
        running += t.state == TransferState::Working ? 1 : 0;
        queued += t.state == TransferState::Waiting ? 1 : 0;
    }
    if (running + queued < 1)
        return {};
    if (queued == 0)
        return QString::number(running) + u" đang chạy"_s;
    return QString::number(running) + u" đang chạy · "_s + QString::number(queued) + u" chờ"_s;
}

QString emptyQueueText()
{
    return u"Trống. Kéo thả file giữa hai khung để bắt đầu."_s;
}

bool hasFinished(const QList<Transfer> &transfers)
{
    return std::any_of(transfers.cbegin(), transfers.cend(),
                       [](const Transfer &t) { return isFinished(t.state); });
}

Activity activity(const QList<Transfer> &transfers)
{
    Activity out;
    const Transfer *working = nullptr;
    bool paused = false;
    QString held;
    int failed = 0;
    for (const Transfer &t : transfers) {
        if (t.state == TransferState::Working || t.state == TransferState::Waiting)
            ++out.pending;
        if (t.state == TransferState::Working && !working)
            working = &t;
        paused |= t.state == TransferState::Paused;
        if (t.state == TransferState::Paused && held.isEmpty())
            held = t.heldBecause;
        if (t.state == TransferState::Working && t.limitedUntil.isValid()
            && (!out.limitedUntil.isValid() || t.limitedUntil < out.limitedUntil))
            out.limitedUntil = t.limitedUntil;
        failed += t.state == TransferState::Failed ? 1 : 0;
    }
    out.active = out.pending > 0;
    if (out.limitedUntil.isValid()) {
        out.text = TransferDetail::limitWait(out.limitedUntil);
        out.color = yellow();
    } else if (working) {
        // The pieces stand apart by one space, as the window's other running texts do.
        QStringList pieces{(working->isUpload() ? u"Đang tải lên"_s : u"Đang tải xuống"_s)
                           + (working->preparing()
                                  ? u" (đang chuẩn bị…)"_s
                                  : u" ("_s + QString::number(working->percentage()) + u"%)"_s)};
        if (working->totalFilesCount >= 2)
            pieces.append(u"· File "_s + QString::number(working->currentFileIndex) + u'/' +
                          QString::number(working->totalFilesCount));
        if (working->speed > 0)
            pieces.append(u"· "_s + (working->isUpload() ? u"↑"_s : u"↓"_s) + u' ' +
                          formatSpeed(working->speed));
        out.text = pieces.join(u' ');
    } else if (paused) {
        // Paused by Google's refusal: the reason says what the user must do first.
        out.text = held.isEmpty() ? u"Tác vụ đang tạm dừng"_s : held;
        out.color = yellow();
    } else if (failed > 0 && out.pending == 0) {
        // The reason stands in the row; the bar says where to look.
        out.text = QString::number(failed) + u" tác vụ bị lỗi · xem lý do trong hàng đợi"_s;
        out.color = orange();
    } else {
        out.text = out.pending == 0 ? u"Sẵn sàng"_s : u"Đang truyền file"_s;
    }
    return out;
}

} // namespace Tarnwick::QueueTexts
