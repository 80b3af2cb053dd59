#include "appmodel.h"

#include "async/async.h"
#include "async/backgroundcall.h"
#include "desktop.h"
#include "drive/driveapierror.h"
#include "drive/driveclient.h"
#include "records/drivelinks.h"
#include "records/localnames.h"
#include "stepoutcome.h"
#include "transfer/enqueue.h"
#include "transfer/transferqueue.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

// Kept by "Tải xuống…": files, folders, and items of no stated type; Google documents are not.
bool downloadable(const DriveFile &file)
{
    return !file.isGoogleDocument();
}

bool samePath(const std::optional<QString> &shown, const QString &folder)
{
    return shown && QDir::cleanPath(*shown) == QDir::cleanPath(folder);
}

} // namespace

const QList<Transfer> &AppModel::transfers() const
{
    return m_queue->transfers();
}

void AppModel::pauseTransfer(const QUuid &id)
{
    m_queue->pauseTransfer(id);
}

void AppModel::resumeTransfer(const QUuid &id)
{
    m_queue->resumeTransfer(id);
}

void AppModel::resumeAllPaused()
{
    m_queue->resumeAllPaused();
}

void AppModel::cancelTransfer(const QUuid &id)
{
    m_queue->cancelTransfer(id);
}

void AppModel::clearFinished()
{
    m_queue->clearFinished();
}

// ---- uploads

void AppModel::enqueueUploads(QStringList paths)
{
    if (!canUpload()) {
        if (m_connected)
            setError(u"Hãy mở một thư mục có quyền chỉnh sửa để tải file vào."_s);
        else
            setShowConnection(true);
        return;
    }
    enqueueUploads(std::move(paths), cloudParent(), currentCloudPath());
}

void AppModel::enqueueUploads(QStringList paths, QString parent, QString cloudPath)
{
    const QList<Transfer> transfers = Enqueue::uploads(std::move(paths), parent, cloudPath);
    if (transfers.isEmpty())
        return;
    for (const Transfer &transfer : transfers)
        m_queue->append(transfer);
    setShowTransfers(true);
    m_queue->startRuns();
}

bool AppModel::readyToChooseUploads()
{
    if (canUpload())
        return true;
    setShowConnection(!m_connected);
    return false;
}

QStringList AppModel::selectedLocalEntries(bool folders) const
{
    QStringList selected;
    for (const LocalFile &file : m_localFiles) {
        if (file.isFolder == folders && m_localSelection.contains(file.url))
            selected.append(file.url);
    }
    return selected;
}

QCoro::Task<> AppModel::chooseUpload()
{
    if (!readyToChooseUploads())
        co_return;
    QPointer<AppModel> self(this);
    Desktop::FilesRequest request;
    request.prompt = u"Tải lên"_s;
    request.message = u"Chọn file để tải lên Google Drive"_s;
    request.multiple = true;
    request.directory = m_localURL;
    request.selected = selectedLocalEntries(false);
    auto choosing = m_desktop->chooseFiles(request);
    const QStringList chosen = co_await choosing;
    if (!self || chosen.isEmpty())
        co_return;
    enqueueUploads(chosen);
}

QCoro::Task<> AppModel::chooseUploadFolder()
{
    if (!readyToChooseUploads())
        co_return;
    QPointer<AppModel> self(this);
    Desktop::FolderRequest request;
    request.prompt = u"Tải lên"_s;
    request.message = u"Chọn thư mục để tải lên Google Drive"_s;
    request.directory = m_localURL;
    if (const QStringList folders = selectedLocalEntries(true); !folders.isEmpty())
        request.selected = folders.constFirst();
    auto choosing = m_desktop->chooseFolder(request);
    const std::optional<QString> chosen = co_await choosing;
    if (!self || !chosen)
        co_return;
    enqueueUploads({*chosen});
}

// ---- downloads

namespace {

// Asks whether a download goes on into the local folder `name` that is there already.
QCoro::Task<bool> askContinueInto(QPointer<AppModel> model, QString name)
{
    if (!model)
        co_return false;
    Desktop::Alert alert;
    alert.title = u"Đã có thư mục \""_s + name + u"\" ở đây"_s;
    alert.message = u"Có thể đây là lần tải trước chưa xong. Tải tiếp vào thư mục này sẽ bỏ qua "
                    "các file đã tải đủ và chỉ tải phần còn thiếu. File trùng tên nhưng khác "
                    "dung lượng sẽ được tải lại và thay thế."_s;
    alert.buttons = {{u"Tải tiếp vào thư mục này"_s, Desktop::AlertButton::Role::Default},
                     {u"Tạo thư mục mới"_s, Desktop::AlertButton::Role::Normal}};
    auto asking = model->desktop().ask(alert);
    const int answer = co_await asking;
    co_return answer == 0;
}

} // namespace

QCoro::Task<QString> AppModel::downloadDestination(DriveFile file, QString folder,
                                                   QSet<QString> *reserved)
{
    QPointer<AppModel> self(this);
    auto choosing = Enqueue::destination(
        m_queue, std::move(file), std::move(folder), reserved,
        [self](QString name) { return askContinueInto(self, std::move(name)); });
    co_return co_await choosing;
}

QCoro::Task<> AppModel::enqueueDownloads(QList<DriveFile> files, QString folder)
{
    QPointer<AppModel> self(this);
    // Names that transfers still to write into this folder will take: a second drop of the same
    // item must not share their destination and part file.
    QSet<QString> reserved = Enqueue::takenNames(*m_queue, folder);
    bool appended = false;
    const QString cloudPath = currentCloudPath();
    for (const DriveFile &file : std::as_const(files)) {
        if (file.isGoogleDocument()) {
            openInBrowser(file);
            continue;
        }
        auto choosing = downloadDestination(file, folder, &reserved);
        const QString destination = co_await choosing;
        if (!self)
            co_return;
        m_queue->append(Enqueue::download(file, destination, cloudPath));
        appended = true;
    }
    if (appended) {
        setShowTransfers(true);
        m_queue->startRuns();
    }
}

bool AppModel::canDownloadSelection() const
{
    return std::any_of(m_cloudFiles.cbegin(), m_cloudFiles.cend(), [this](const DriveFile &file) {
        return m_cloudSelection.contains(file.id) && downloadable(file);
    });
}

QCoro::Task<> AppModel::downloadSelected()
{
    QList<DriveFile> files;
    for (const DriveFile &file : std::as_const(m_cloudFiles)) {
        if (m_cloudSelection.contains(file.id) && downloadable(file))
            files.append(file);
    }
    if (files.isEmpty())
        co_return;
    if (files.size() == 1 && !files.first().isFolder()) {
        co_await downloadFile(files.first());
        co_return;
    }
    QPointer<AppModel> self(this);
    Desktop::FolderRequest request;
    request.prompt = u"Tải vào đây"_s;
    request.message = u"Chọn thư mục trên máy để lưu "_s
                      + (files.size() == 1 ? files.first().name
                                           : QString::number(files.size()) + u" mục"_s);
    request.directory = m_localURL;
    auto choosing = m_desktop->chooseFolder(request);
    const std::optional<QString> folder = co_await choosing;
    if (!self || !folder)
        co_return;
    co_await enqueueDownloads(files, *folder);
    if (self && !samePath(m_localURL, *folder))
        co_await navigateLocal(*folder);
}

QCoro::Task<> AppModel::downloadFile(DriveFile file)
{
    QPointer<AppModel> self(this);
    if (file.isGoogleDocument()) {
        openInBrowser(file);
        co_return;
    }
    if (file.isFolder()) {
        Desktop::FolderRequest request;
        request.prompt = u"Tải vào đây"_s;
        request.message = u"Chọn thư mục trên máy để lưu thư mục "_s + file.name;
        request.directory = m_localURL;
        auto choosing = m_desktop->chooseFolder(request);
        const std::optional<QString> folder = co_await choosing;
        if (!self || !folder)
            co_return;
        auto enqueuing = enqueueDownloads(QList<DriveFile>{file}, *folder);
        co_await enqueuing;
        if (self && !samePath(m_localURL, *folder))
            co_await navigateLocal(*folder);
        co_return;
    }
    Desktop::SaveRequest request;
    request.prompt = u"Tải xuống"_s;
    QSet<QString> none;
    // The suggestion is the cleaned name: Drive names may hold "/".
    request.suggestedName = lastPathComponent(LocalNames::availableDestination(
        file.name, u"/"_s, none, [](const QString &) { return false; }));
    request.directory = m_localURL;
    auto choosing = m_desktop->chooseSaveLocation(request);
    const std::optional<QString> destination = co_await choosing;
    if (!self || !destination)
        co_return;
    m_queue->append(Enqueue::download(file, *destination, currentCloudPath()));
    setShowTransfers(true);
    m_queue->startRuns();
}

QCoro::Task<> AppModel::acceptCloudDropFiles(QList<DriveFile> files)
{
    if (!m_localURL) {
        setError(u"Hãy chọn một thư mục trên máy trước khi kéo từ Google Drive về."_s);
        co_return;
    }
    if (files.size() == 1 && m_cloudSelection.contains(files.first().id)
        && m_cloudSelection.size() >= 2) {
        files.clear();
        for (const DriveFile &file : std::as_const(m_cloudFiles)) {
            if (m_cloudSelection.contains(file.id))
                files.append(file);
        }
    }
    co_await enqueueDownloads(files, *m_localURL);
}

QCoro::Task<> AppModel::acceptDropItems(QList<DownloadDropItem> items)
{
    QList<DriveFile> files;
    for (const DownloadDropItem &item : std::as_const(items)) {
        if (item.driveFile)
            files.append(*item.driveFile);
    }
    if (!files.isEmpty()) {
        co_await acceptCloudDropFiles(files);
        co_return;
    }
    for (const DownloadDropItem &item : std::as_const(items)) {
        QString text;
        if (item.url)
            text = item.url->toString(QUrl::FullyEncoded);
        else if (item.text)
            text = *item.text;
        else
            continue;
        if (DriveLinks::parseDriveID(text)) {
            setLinkToDownload(text);
            setCustomDownloadFolder(m_localURL);
            setShowLinkDownload(true);
            co_return;
        }
    }
    setError(u"Không nhận diện được liên kết Google Drive từ mục đã kéo thả."_s);
}

QCoro::Task<> AppModel::downloadFromDriveID(QString id, std::optional<QString> destinationFolder)
{
    const std::optional<QString> folder = destinationFolder ? destinationFolder : m_localURL;
    if (!folder) {
        setError(u"Hãy chọn một thư mục trên máy trước khi tải file từ liên kết."_s);
        co_return;
    }
    if (!m_connected) {
        setError(u"Vui lòng kết nối tài khoản Google Drive trước khi tải file từ liên kết."_s);
        co_return;
    }
    QPointer<AppModel> self(this);
    setLoading(true);
    StepOutcome<DriveFile> found;
    try {
        auto looking = drive().file(id);
        found.value = co_await looking;
    } catch (const Cancelled &) {
    } catch (const DriveAPIError &e) {
        // Drive's generic "not there" also speaks of upload sessions, which a link never has.
        found.failure = e.status() == 404
                            ? u"Không tìm thấy file hoặc thư mục của liên kết này. Có thể nó đã bị "
                              "xoá, hoặc tài khoản đang kết nối không được chia sẻ."_s
                            : describe(e);
    } catch (const std::exception &e) {
        found.failure = describe(e);
    }
    if (!self)
        co_return;
    if (!found.done()) {
        setLoading(false);
        if (found.failure)
            setError(found.failure);
        co_return;
    }
    auto enqueuing = enqueueDownloads(QList<DriveFile>{*found.value}, *folder);
    co_await enqueuing;
    if (!self)
        co_return;
    if (!samePath(m_localURL, *folder))
        co_await navigateLocal(*folder);
    if (self)
        setLoading(false);
}

void AppModel::setLinkToDownload(QString link)
{
    publish(m_linkToDownload, std::move(link), &AppModel::linkToDownloadChanged);
}

void AppModel::setCustomDownloadFolder(std::optional<QString> folder)
{
    publish(m_customDownloadFolder, std::move(folder), &AppModel::customDownloadFolderChanged);
}

void AppModel::setShowLinkDownload(bool show)
{
    publish(m_showLinkDownload, show, &AppModel::showLinkDownloadChanged);
}

} // namespace Tarnwick
