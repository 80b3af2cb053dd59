#include "transfer.h"

#include "async/clock.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

int clampedPercent(double value)
{
    return int(std::clamp(value * 100.0, 0.0, 100.0));
}

} // namespace

QString lastPathComponent(const QString &path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(u'/'))
        trimmed.chop(1);
    return trimmed.mid(trimmed.lastIndexOf(u'/') + 1);
}

bool isFinished(TransferState state)
{
    return state == TransferState::Done || state == TransferState::Failed
           || state == TransferState::Cancelled;
}

const char *stateKey(TransferState state)
{
    switch (state) {
    case TransferState::Waiting:
        return "waiting";
    case TransferState::Working:
        return "working";
    case TransferState::Paused:
        return "paused";
    case TransferState::Done:
        return "done";
    case TransferState::Failed:
        return "failed";
    case TransferState::Cancelled:
        return "cancelled";
    }
    return "";
}

int FileInFlight::percentage() const
{
    return total <= 0 ? 0 : clampedPercent(double(done) / double(total));
}

int Transfer::percentage() const
{
    if (total > 0)
        return clampedPercent(double(done) / double(total));
    // Before its files are counted, "file 1 of 1" is no progress at all.
    if (preparing())
        return 0;
    if (totalFilesCount > 0 && currentFileIndex > 0)
        return clampedPercent(double(currentFileIndex) / double(totalFilesCount));
    return 0;
}

TransferEnd Transfer::displaySource() const
{
    if (!source) {
        if (!sourcePath.isEmpty())
            return {true, sourcePath};
        return {true, u"/"_s + (remoteFile ? remoteFile->name : name)};
    }
    if (!sourcePath.isEmpty())
        return {false, sourcePath};
    return {false, source->isEmpty() ? name : *source};
}

TransferEnd Transfer::displayDestination() const
{
    if (source) {
        if (!destinationPath.isEmpty())
            return {true, destinationPath};
        if (!parent.isEmpty() && parent != u"root")
            return {true, u"/"_s + parent};
        return {true, u"/Drive của tôi"_s};
    }
    if (!destinationPath.isEmpty())
        return {false, destinationPath};
    if (destination && !destination->isEmpty())
        return {false, *destination};
    return {false, u"Máy cục bộ"_s};
}

void Transfer::beginFile(int id, int fileIndex, int totalFiles, const QString &fileName,
                         const QString &sourcePath, const QString &destinationPath,
                         qint64 totalBytes, bool isUpload)
{
    FileInFlight item{id, fileIndex,  totalFiles, fileName, sourcePath, destinationPath,
                      0,  totalBytes, 0,          isUpload};
    auto existing = std::find_if(filesInFlight.begin(), filesInFlight.end(),
                                 [id](const FileInFlight &w) { return w.id == id; });
    if (existing != filesInFlight.end())
        *existing = std::move(item);
    else
        filesInFlight.append(std::move(item));
    std::stable_sort(filesInFlight.begin(), filesInFlight.end(),
                     [](const FileInFlight &a, const FileInFlight &b) { return a.id < b.id; });
}

void Transfer::fileProgress(int id, qint64 doneBytes, double workerSpeed)
{
    for (FileInFlight &w : filesInFlight) {
        if (w.id == id) {
            w.done = doneBytes;
            w.speed = workerSpeed;
            return;
        }
    }
}

void Transfer::endFile(int id)
{
    filesInFlight.removeIf([id](const FileInFlight &w) { return w.id == id; });
}

Transfer Transfer::waiting(QString name)
{
    Transfer t;
    t.id = QUuid::createUuid();
    t.name = std::move(name);
    t.detail = TransferDetail::queued();
    return t;
}

namespace TransferDetail {
QString queued() { return u"Đang chờ"_s; }
QString requeued() { return u"Đang chờ…"_s; }
QString preparing() { return u"Đang chuẩn bị…"_s; }
QString scanningFolder() { return u"Đang quét danh sách file trong thư mục…"_s; }
QString preparingDownload() { return u"Đang chuẩn bị tải xuống…"_s; }
QString preparingUpload() { return u"Đang chuẩn bị tải lên…"_s; }
QString creatingFolder(const QString &name) { return u"Đang tạo thư mục: "_s + name; }
QString fileStarted(const QString &name, int index, int count)
{
    if (count <= 1)
        return name;
    // Concatenated, not arg(): a name may itself hold "%1".
    return u"File "_s + QString::number(index) + u'/' + QString::number(count) + u": "_s + name;
}
QString skippedDownload(const QString &name) { return u"Bỏ qua file đã có: "_s + name; }
QString skippedUpload(const QString &name) { return u"Bỏ qua file đã tải lên: "_s + name; }
QString emptyFolder() { return u"Thư mục trống"_s; }
QString finished() { return u"Hoàn tất"_s; }
QString cancelled() { return u"Đã hủy"_s; }
QString paused() { return u"Đã tạm dừng"_s; }
QString limitWait(const QDateTime &until)
{
    const qint64 ms = Clock::current().now().msecsTo(until);
    const qint64 s = std::max<qint64>((ms + 999) / 1000, 1);
    const QString left = s < 60 ? QString::number(s) + u" giây"_s
                                : QString::number((s + 59) / 60) + u" phút"_s;
    return u"Google đang giới hạn tốc độ, thử lại sau "_s + left;
}
QString restored() { return u"Chưa xong từ lần trước"_s; }
} // namespace TransferDetail

} // namespace Tarnwick
