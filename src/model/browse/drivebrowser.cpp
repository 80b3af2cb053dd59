#include "browse/drivebrowser.h"

#include "async/async.h"
#include "async/clock.h"
#include "desktop.h"
#include "drive/driveclient.h"
#include "browse/filterbyname.h"
#include "browse/itempage.h"
#include "publish.h"
#include "stepoutcome.h"

#include <QPointer>
#include <QSettings>

#include <chrono>

using namespace Qt::StringLiterals;

namespace Tarnwick {

const QString DriveBrowser::sortCloudKey = u"sort-cloud"_s;

namespace {

constexpr std::chrono::milliseconds cloudRefreshInterval{2000};

} // namespace

DriveBrowser::DriveBrowser(Desktop &desktop, DriveClient drive, std::function<bool()> signedIn,
                           std::function<QCoro::Task<>()> refreshAccount, QObject *parent)
    : QObject(parent)
    , m_desktop(desktop)
    , m_drive(std::move(drive))
    , m_signedIn(std::move(signedIn))
    , m_refreshAccount(std::move(refreshAccount))
{
    const QByteArray stored = QSettings().value(sortCloudKey).toByteArray();
    m_cloudSort = SortOption::fromJsonBytes(stored).value_or(SortOption{});
}

DriveBrowser::~DriveBrowser()
{
    m_lifetime.request_stop();
}

void DriveBrowser::setCloudSelection(QSet<QString> selection)
{
    publish(this, m_cloudSelection, std::move(selection), &DriveBrowser::cloudSelectionChanged);
}

void DriveBrowser::setCloudSearch(QString search)
{
    publish(this, m_cloudSearch, std::move(search), &DriveBrowser::cloudSearchChanged);
}

void DriveBrowser::setCloudSort(SortOption sort)
{
    QSettings().setValue(sortCloudKey, sort.toJsonBytes());
    publish(this, m_cloudSort, sort, &DriveBrowser::cloudSortChanged);
}

void DriveBrowser::setLoading(bool loading)
{
    publish(this, m_loading, loading, &DriveBrowser::loadingChanged);
}

QString DriveBrowser::cloudParent() const
{
    return m_crumbs.isEmpty() ? u"root"_s : m_crumbs.last().id;
}

bool DriveBrowser::canUpload() const
{
    return m_signedIn() && (m_location == DriveLocation::MyDrive || !m_crumbs.isEmpty());
}

QList<DriveFile> DriveBrowser::visibleCloud() const
{
    return m_cloudSort.sorted(
        filterByName(m_cloudFiles, m_cloudSearch, [](const DriveFile &f) { return f.name; }),
        [](const DriveFile &f) { return f.name; }, [](const DriveFile &f) { return f.isFolder(); },
        [](const DriveFile &f) { return f.modifiedDate(); },
        [](const DriveFile &f) { return f.bytes(); });
}

QList<DriveFile> DriveBrowser::selectedCloudFiles() const
{
    QList<DriveFile> files;
    for (const DriveFile &file : m_cloudFiles) {
        if (m_cloudSelection.contains(file.id))
            files.append(file);
    }
    return files;
}

qint64 DriveBrowser::cloudSelectedBytes() const
{
    qint64 total = 0;
    for (const DriveFile &file : m_cloudFiles) {
        if (m_cloudSelection.contains(file.id))
            total += file.bytes();
    }
    return total;
}

QString DriveBrowser::currentCloudPath() const
{
    if (m_crumbs.isEmpty())
        return u'/' + DriveLocations::rawValue(m_location);
    QStringList names;
    for (const Crumb &crumb : m_crumbs)
        names.append(crumb.name);
    return u'/' + names.join(u'/');
}

QCoro::Task<> DriveBrowser::refreshCloud()
{
    if (!m_signedIn())
        co_return;
    QPointer<DriveBrowser> self(this);
    const QUuid token = QUuid::createUuid();
    m_listVersion = token;
    setLoading(true);
    publish(this, m_cloudLoadError, std::optional<QString>(), &DriveBrowser::cloudLoadErrorChanged);

    const DriveClient client = m_drive;
    m_listingStop.request_stop();
    m_listingStop = std::stop_source();
    std::stop_source listingStop = m_listingStop;
    const std::stop_token stop = listingStop.get_token();
    const std::stop_callback endsWithTheSlice(
        m_lifetime.get_token(), [listingStop]() mutable { listingStop.request_stop(); });
    const bool atRoot = m_crumbs.isEmpty();
    auto listing =
        m_location == DriveLocation::Team && atRoot
            ? client.sharedDrives(stop)
            : client.list(cloudParent(), m_location == DriveLocation::Shared && atRoot, stop);
    auto settling = settle(std::move(listing));
    StepOutcome<QList<DriveFile>> listed = co_await settling;
    // A newer listing (or a sign-out) owns the pane now.
    if (!self || m_listVersion != token)
        co_return;
    if (listed.value && m_signedIn()) {
        QSet<QString> present;
        for (const DriveFile &file : *listed.value)
            present.insert(file.id);
        publish(this, m_cloudFiles, std::move(*listed.value), &DriveBrowser::cloudFilesChanged);
        publish(this, m_cloudSelection, m_cloudSelection & present, &DriveBrowser::cloudSelectionChanged);
    } else if (listed.failure) {
        publish(this, m_cloudLoadError, listed.failure, &DriveBrowser::cloudLoadErrorChanged);
    }
    setLoading(false);
}

QCoro::Task<> DriveBrowser::refreshCloudAndAccount()
{
    QPointer<DriveBrowser> self(this);
    co_await refreshCloud();
    if (self && m_signedIn() && m_refreshAccount)
        co_await m_refreshAccount();
}

QCoro::Task<> DriveBrowser::refreshCloudThrottled()
{
    const QDateTime now = Clock::current().now();
    if (m_lastCloudRefresh) {
        const qint64 elapsed = m_lastCloudRefresh->msecsTo(now);
        // A clock set back counts as time gone by, or refreshes would stop until it caught up.
        if (elapsed >= 0 && elapsed < qint64(cloudRefreshInterval.count()))
            co_return;
    }
    m_lastCloudRefresh = now;
    co_await refreshCloud();
}

void DriveBrowser::clearCloudItems()
{
    publish(this, m_cloudFiles, QList<DriveFile>(), &DriveBrowser::cloudFilesChanged);
    publish(this, m_cloudSelection, QSet<QString>(), &DriveBrowser::cloudSelectionChanged);
}

void DriveBrowser::startCloudListing()
{
    detach(refreshCloud(), {});
}

void DriveBrowser::changeLocation(DriveLocation location)
{
    publish(this, m_location, location, &DriveBrowser::locationChanged);
    publish(this, m_crumbs, QList<Crumb>(), &DriveBrowser::crumbsChanged);
    clearCloudItems();
    setCloudSearch(QString());
    startCloudListing();
}

void DriveBrowser::openCloud(const DriveFile &file)
{
    if (!file.isFolder()) {
        openInBrowser(file);
        return;
    }
    m_crumbs.append(Crumb{file.id, file.name});
    emit crumbsChanged();
    clearCloudItems();
    setCloudSearch(QString());
    startCloudListing();
}

void DriveBrowser::navigateToCrumb(qsizetype index)
{
    if (index < 0 || index >= m_crumbs.size())
        return;
    publish(this, m_crumbs, m_crumbs.first(index + 1), &DriveBrowser::crumbsChanged);
    clearCloudItems();
    startCloudListing();
}

void DriveBrowser::goBackCloud()
{
    if (m_crumbs.isEmpty())
        return;
    m_crumbs.removeLast();
    emit crumbsChanged();
    clearCloudItems();
    startCloudListing();
}

void DriveBrowser::navigateToCloudRoot()
{
    publish(this, m_crumbs, QList<Crumb>(), &DriveBrowser::crumbsChanged);
    clearCloudItems();
    startCloudListing();
}

void DriveBrowser::showMyDriveRoot()
{
    publish(this, m_location, DriveLocation::MyDrive, &DriveBrowser::locationChanged);
    publish(this, m_crumbs, QList<Crumb>(), &DriveBrowser::crumbsChanged);
}

void DriveBrowser::signedOut()
{
    publish(this, m_cloudFiles, QList<DriveFile>(), &DriveBrowser::cloudFilesChanged);
    publish(this, m_cloudSelection, QSet<QString>(), &DriveBrowser::cloudSelectionChanged);
    publish(this, m_crumbs, QList<Crumb>(), &DriveBrowser::crumbsChanged);
    m_listVersion = QUuid::createUuid();
    m_listingStop.request_stop();
    // The listing that owned `loading` can no longer end it.
    setLoading(false);
}

QCoro::Task<> DriveBrowser::createFolder(QString name)
{
    if (!canUpload())
        co_return;
    const DriveClient client = m_drive;
    auto creating = proceed(
        this, client.createFolder(std::move(name), cloudParent(), m_lifetime.get_token()),
        [this](QString failure) { emit failed(failure); });
    const auto created = co_await creating;
    if (created)
        co_await refreshCloud();
}

QCoro::Task<> DriveBrowser::rename(DriveFile file, QString name)
{
    const DriveClient client = m_drive;
    auto renaming = proceed(
        this, client.rename(std::move(file), std::move(name), m_lifetime.get_token()),
        [this](QString failure) { emit failed(failure); });
    const auto renamed = co_await renaming;
    if (renamed)
        co_await refreshCloud();
}

namespace {

using ItemStep = QCoro::Task<> (DriveClient::*)(DriveFile, std::stop_token) const;

// Applies step to each file in order and stops at the first failure. Cancelled also when the
// slice went away meanwhile.
QCoro::Task<StepOutcome<void>> applyInOrder(QPointer<DriveBrowser> self, DriveClient client,
                                            std::stop_token stop, QList<DriveFile> files,
                                            ItemStep step)
{
    for (const DriveFile &file : files) {
        auto running = settle((client.*step)(file, stop));
        const StepOutcome<void> outcome = co_await running;
        if (outcome.cancelled() || !self)
            co_return StepOutcome<void>();
        if (outcome.failure)
            co_return outcome;
    }
    co_return StepOutcome<void>{.value = std::monostate()};
}

} // namespace

QCoro::Task<> DriveBrowser::trashFiles(QList<DriveFile> files)
{
    auto trashing = applyInOrder(QPointer<DriveBrowser>(this), m_drive, m_lifetime.get_token(),
                                 std::move(files), &DriveClient::trash);
    const StepOutcome<void> outcome = co_await trashing;
    if (outcome.cancelled())
        co_return;
    if (outcome.failure)
        emit failed(*outcome.failure);
    co_await refreshCloudAndAccount();
}

QCoro::Task<> DriveBrowser::deleteDriveFilesPermanently(QList<DriveFile> files)
{
    const qsizetype count = files.size();
    auto deleting = applyInOrder(QPointer<DriveBrowser>(this), m_drive, m_lifetime.get_token(),
                                 std::move(files), &DriveClient::deletePermanently);
    const StepOutcome<void> outcome = co_await deleting;
    if (outcome.cancelled())
        co_return;
    if (outcome.failure)
        emit failed(u"Không xoá được: "_s + *outcome.failure);
    else
        emit notice(u"Đã xoá vĩnh viễn "_s + QString::number(count) + u" mục"_s);
    co_await refreshCloudAndAccount();
}

void DriveBrowser::openInBrowser(const DriveFile &file)
{
    openItemPage(m_desktop, file);
}

} // namespace Tarnwick
