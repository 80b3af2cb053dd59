#include "transfers/transfers.h"

#include "async/async.h"
#include "async/backgroundcall.h"
#include "browse/itempage.h"
#include "desktop.h"
#include "drive/driveapierror.h"
#include "drive/driveclient.h"
#include "records/drivelinks.h"
#include "records/localnames.h"
#include "publish.h"
#include "stepoutcome.h"
#include "transfer/enqueue.h"
#include "transfer/transferqueue.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSettings>

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

Transfers::Transfers(Desktop &desktop, DriveClient drive, std::function<bool()> signedIn,
                     QObject *parent)
    : QObject(parent)
    , m_desktop(desktop)
    , m_drive(drive)
    , m_signedIn(std::move(signedIn))
    , m_queue(new TransferQueue(std::move(drive), desktop, m_signedIn, this))
{
    connect(m_queue, &TransferQueue::transfersChanged, this, &Transfers::transfersChanged);
    connect(m_queue, &TransferQueue::signInNeeded, this, [this] {
        m_resumeAfterLogin = true;
        emit signInRequested();
    });
    connect(m_queue, &TransferQueue::writesHeld, this, &Transfers::failed);
    m_autoResumeTransfers = QSettings().value(autoResumeKey, false).toBool();
}

Transfers::~Transfers()
{
    delete m_queue;
}

std::optional<QString> Transfers::localFolder() const
{
    return m_panes.localFolder ? m_panes.localFolder() : std::nullopt;
}

QStringList Transfers::localSelection(bool folders) const
{
    return m_panes.localSelection ? m_panes.localSelection(folders) : QStringList();
}

std::optional<Transfers::UploadTarget> Transfers::uploadTarget() const
{
    return m_panes.uploadTarget ? m_panes.uploadTarget() : std::nullopt;
}

QString Transfers::cloudPath() const
{
    return m_panes.cloudPath ? m_panes.cloudPath() : QString();
}

QList<DriveFile> Transfers::cloudSelection() const
{
    return m_panes.cloudSelection ? m_panes.cloudSelection() : QList<DriveFile>();
}

QCoro::Task<> Transfers::showDownloadFolder(QString folder)
{
    if (m_panes.showLocalFolder && !samePath(localFolder(), folder))
        co_await m_panes.showLocalFolder(std::move(folder));
}

void Transfers::openInBrowser(const DriveFile &file)
{
    openItemPage(m_desktop, file);
}

void Transfers::setBusy(bool busy)
{
    if (m_panes.setBusy)
        m_panes.setBusy(busy);
}

const QList<Transfer> &Transfers::list() const
{
    return m_queue->transfers();
}

int Transfers::pendingTransferCount() const
{
    return int(m_queue->runningTransfers().size() + m_queue->queuedTransfers().size());
}

void Transfers::pauseTransfer(const QUuid &id)
{
    m_queue->pauseTransfer(id);
}

void Transfers::resumeTransfer(const QUuid &id)
{
    m_queue->resumeTransfer(id);
}

void Transfers::resumeAllPaused()
{
    m_queue->resumeAllPaused();
}

void Transfers::cancelTransfer(const QUuid &id)
{
    m_queue->cancelTransfer(id);
}

void Transfers::clearFinished()
{
    m_queue->clearFinished();
}

// ---- uploads

void Transfers::enqueueUploads(QStringList paths)
{
    const std::optional<UploadTarget> target = uploadTarget();
    if (!target) {
        if (m_signedIn())
            emit failed(u"Hãy mở một thư mục có quyền chỉnh sửa để tải file vào."_s);
        else
            emit signInRequested();
        return;
    }
    enqueueUploads(std::move(paths), target->parent, target->cloudPath);
}

void Transfers::enqueueUploads(QStringList paths, QString parent, QString cloudPath)
{
    const QList<Transfer> transfers = Enqueue::uploads(std::move(paths), parent, cloudPath);
    if (transfers.isEmpty())
        return;
    for (const Transfer &transfer : transfers)
        m_queue->append(transfer);
    emit showRequested();
    m_queue->startRuns();
}

bool Transfers::readyToChooseUploads()
{
    if (uploadTarget())
        return true;
    if (!m_signedIn())
        emit signInRequested();
    return false;
}

QCoro::Task<> Transfers::chooseUpload()
{
    if (!readyToChooseUploads())
        co_return;
    QPointer<Transfers> self(this);
    Desktop::FilesRequest request;
    request.prompt = u"Tải lên"_s;
    request.message = u"Chọn file để tải lên Google Drive"_s;
    request.multiple = true;
    request.directory = localFolder();
    request.selected = localSelection(false);
    auto choosing = m_desktop.chooseFiles(request);
    const QStringList chosen = co_await choosing;
    if (!self || chosen.isEmpty())
        co_return;
    enqueueUploads(chosen);
}

QCoro::Task<> Transfers::chooseUploadFolder()
{
    if (!readyToChooseUploads())
        co_return;
    QPointer<Transfers> self(this);
    Desktop::FolderRequest request;
    request.prompt = u"Tải lên"_s;
    request.message = u"Chọn thư mục để tải lên Google Drive"_s;
    request.directory = localFolder();
    if (const QStringList folders = localSelection(true); !folders.isEmpty())
        request.selected = folders.constFirst();
    auto choosing = m_desktop.chooseFolder(request);
    const std::optional<QString> chosen = co_await choosing;
    if (!self || !chosen)
        co_return;
    enqueueUploads({*chosen});
}

// ---- downloads

namespace {

// Asks whether a download goes on into the local folder `name` that is there already.
QCoro::Task<bool> askContinueInto(QPointer<Transfers> transfers, Desktop *desktop, QString name)
{
    if (!transfers)
        co_return false;
    Desktop::Alert alert;
    alert.title = u"Đã có thư mục \""_s + name + u"\" ở đây"_s;
    alert.message = u"Có thể đây là lần tải trước chưa xong. Tải tiếp vào thư mục này sẽ bỏ qua "
                    "các file đã tải đủ và chỉ tải phần còn thiếu. File trùng tên nhưng khác "
                    "dung lượng sẽ được tải lại và thay thế."_s;
    alert.buttons = {{u"Tải tiếp vào thư mục này"_s, Desktop::AlertButton::Role::Default},
                     {u"Tạo thư mục mới"_s, Desktop::AlertButton::Role::Normal}};
    auto asking = desktop->ask(alert);
    const int answer = co_await asking;
    co_return answer == 0;
}

} // namespace

QCoro::Task<QString> Transfers::downloadDestination(DriveFile file, QString folder,
                                                   QSet<QString> *reserved)
{
    QPointer<Transfers> self(this);
    auto choosing = Enqueue::destination(
        m_queue, std::move(file), std::move(folder), reserved,
        [self, desktop = &m_desktop](QString name) {
            return askContinueInto(self, desktop, std::move(name));
        });
    co_return co_await choosing;
}

QCoro::Task<> Transfers::enqueueDownloads(QList<DriveFile> files, QString folder)
{
    QPointer<Transfers> self(this);
    // Names that transfers still to write into this folder will take: a second drop of the same
    // item must not share their destination and part file.
    QSet<QString> reserved = Enqueue::takenNames(*m_queue, folder);
    bool appended = false;
    const QString cloudPath = this->cloudPath();
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
        emit showRequested();
        m_queue->startRuns();
    }
}

bool Transfers::canDownloadSelection() const
{
    const QList<DriveFile> selected = cloudSelection();
    return std::any_of(selected.cbegin(), selected.cend(), downloadable);
}

QCoro::Task<> Transfers::downloadSelected()
{
    QList<DriveFile> files = cloudSelection();
    files.removeIf([](const DriveFile &file) { return !downloadable(file); });
    if (files.isEmpty())
        co_return;
    if (files.size() == 1 && !files.first().isFolder()) {
        co_await downloadFile(files.first());
        co_return;
    }
    QPointer<Transfers> self(this);
    Desktop::FolderRequest request;
    request.prompt = u"Tải vào đây"_s;
    request.message = u"Chọn thư mục trên máy để lưu "_s
                      + (files.size() == 1 ? files.first().name
                                           : QString::number(files.size()) + u" mục"_s);
    request.directory = localFolder();
    auto choosing = m_desktop.chooseFolder(request);
    const std::optional<QString> folder = co_await choosing;
    if (!self || !folder)
        co_return;
    co_await enqueueDownloads(files, *folder);
    if (self)
        co_await showDownloadFolder(*folder);
}

QCoro::Task<> Transfers::downloadFile(DriveFile file)
{
    QPointer<Transfers> self(this);
    if (file.isGoogleDocument()) {
        openInBrowser(file);
        co_return;
    }
    if (file.isFolder()) {
        Desktop::FolderRequest request;
        request.prompt = u"Tải vào đây"_s;
        request.message = u"Chọn thư mục trên máy để lưu thư mục "_s + file.name;
        request.directory = localFolder();
        auto choosing = m_desktop.chooseFolder(request);
        const std::optional<QString> folder = co_await choosing;
        if (!self || !folder)
            co_return;
        auto enqueuing = enqueueDownloads(QList<DriveFile>{file}, *folder);
        co_await enqueuing;
        if (self)
            co_await showDownloadFolder(*folder);
        co_return;
    }
    Desktop::SaveRequest request;
    request.prompt = u"Tải xuống"_s;
    QSet<QString> none;
    // The suggestion is the cleaned name: Drive names may hold "/".
    request.suggestedName = lastPathComponent(LocalNames::availableDestination(
        file.name, u"/"_s, none, [](const QString &) { return false; }));
    request.directory = localFolder();
    auto choosing = m_desktop.chooseSaveLocation(request);
    const std::optional<QString> destination = co_await choosing;
    if (!self || !destination)
        co_return;
    m_queue->append(Enqueue::download(file, *destination, cloudPath()));
    emit showRequested();
    m_queue->startRuns();
}

QCoro::Task<> Transfers::acceptCloudDropFiles(QList<DriveFile> files)
{
    const std::optional<QString> folder = localFolder();
    if (!folder) {
        emit failed(u"Hãy chọn một thư mục trên máy trước khi kéo từ Google Drive về."_s);
        co_return;
    }
    if (files.size() == 1) {
        const QString dragged = files.first().id;
        QList<DriveFile> selected = cloudSelection();
        const bool ofSelection = std::any_of(selected.cbegin(), selected.cend(),
                                             [&](const DriveFile &f) { return f.id == dragged; });
        if (ofSelection && selected.size() >= 2)
            files = std::move(selected);
    }
    co_await enqueueDownloads(files, *folder);
}

QCoro::Task<> Transfers::acceptDropItems(QList<DownloadDropItem> items)
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
            setCustomDownloadFolder(localFolder());
            setShowLinkDownload(true);
            co_return;
        }
    }
    emit failed(u"Không nhận diện được liên kết Google Drive từ mục đã kéo thả."_s);
}

QCoro::Task<> Transfers::downloadFromDriveID(QString id, std::optional<QString> destinationFolder)
{
    const std::optional<QString> folder = destinationFolder ? destinationFolder : localFolder();
    if (!folder) {
        emit failed(u"Hãy chọn một thư mục trên máy trước khi tải file từ liên kết."_s);
        co_return;
    }
    if (!m_signedIn()) {
        emit failed(u"Vui lòng kết nối tài khoản Google Drive trước khi tải file từ liên kết."_s);
        co_return;
    }
    QPointer<Transfers> self(this);
    setBusy(true);
    StepOutcome<DriveFile> found;
    try {
        auto looking = m_drive.file(id);
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
        setBusy(false);
        if (found.failure)
            emit failed(*found.failure);
        co_return;
    }
    auto enqueuing = enqueueDownloads(QList<DriveFile>{*found.value}, *folder);
    co_await enqueuing;
    if (!self)
        co_return;
    co_await showDownloadFolder(*folder);
    if (self)
        setBusy(false);
}

void Transfers::setLinkToDownload(QString link)
{
    publish(this, m_linkToDownload, std::move(link), &Transfers::linkToDownloadChanged);
}

void Transfers::setCustomDownloadFolder(std::optional<QString> folder)
{
    publish(this, m_customDownloadFolder, std::move(folder), &Transfers::customDownloadFolderChanged);
}

void Transfers::setShowLinkDownload(bool show)
{
    publish(this, m_showLinkDownload, show, &Transfers::showLinkDownloadChanged);
}

} // namespace Tarnwick
