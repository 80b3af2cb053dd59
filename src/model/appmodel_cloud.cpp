#include "appmodel.h"

#include "async/async.h"
#include "async/clock.h"
#include "desktop.h"
#include "drive/driveclient.h"
#include "net/endpoints.h"
#include "browse/filterbyname.h"
#include "stepoutcome.h"

#include <QHostAddress>
#include <QPointer>
#include <QSettings>

#include <chrono>

using namespace Qt::StringLiterals;

namespace Tarnwick {

const QString AppModel::sortCloudKey = u"sort-cloud"_s;

namespace {

constexpr std::chrono::milliseconds cloudRefreshInterval{2000};

// Google's pages only: https on Google's web domain or a subdomain. The emulator serves its pages
// over plain http on a loopback host; those count while the endpoints point at it.
bool mayOpen(const QUrl &url)
{
    const Endpoints &endpoints = Endpoints::current();
    const bool emulated = endpoints.driveWeb.scheme() == u"http"_s &&
                          QHostAddress(endpoints.driveWeb.host()).isLoopback();
    const bool secure = url.scheme() == u"https"_s || (emulated && url.scheme() == u"http"_s);
    const QString host = url.host();
    const QString &domain = endpoints.googleDomain;
    return secure && !domain.isEmpty() && (host == domain || host.endsWith(u'.' + domain));
}

} // namespace

void AppModel::setCloudSelection(QSet<QString> selection)
{
    publish(m_cloudSelection, std::move(selection), &AppModel::cloudSelectionChanged);
}

void AppModel::setCloudSearch(QString search)
{
    publish(m_cloudSearch, std::move(search), &AppModel::cloudSearchChanged);
}

void AppModel::setCloudSort(SortOption sort)
{
    QSettings().setValue(sortCloudKey, sort.toJsonBytes());
    publish(m_cloudSort, sort, &AppModel::cloudSortChanged);
}

void AppModel::setLoading(bool loading)
{
    publish(m_loading, loading, &AppModel::loadingChanged);
}

QString AppModel::cloudParent() const
{
    return m_crumbs.isEmpty() ? u"root"_s : m_crumbs.last().id;
}

bool AppModel::canUpload() const
{
    return m_connected && (m_location == DriveLocation::MyDrive || !m_crumbs.isEmpty());
}

QList<DriveFile> AppModel::visibleCloud() const
{
    return m_cloudSort.sorted(
        filterByName(m_cloudFiles, m_cloudSearch, [](const DriveFile &f) { return f.name; }),
        [](const DriveFile &f) { return f.name; }, [](const DriveFile &f) { return f.isFolder(); },
        [](const DriveFile &f) { return f.modifiedDate(); },
        [](const DriveFile &f) { return f.bytes(); });
}

qint64 AppModel::cloudSelectedBytes() const
{
    qint64 total = 0;
    for (const DriveFile &file : m_cloudFiles) {
        if (m_cloudSelection.contains(file.id))
            total += file.bytes();
    }
    return total;
}

QString AppModel::currentCloudPath() const
{
    if (m_crumbs.isEmpty())
        return u'/' + DriveLocations::rawValue(m_location);
    QStringList names;
    for (const Crumb &crumb : m_crumbs)
        names.append(crumb.name);
    return u'/' + names.join(u'/');
}

QCoro::Task<> AppModel::refreshCloud()
{
    if (!m_connected)
        co_return;
    QPointer<AppModel> self(this);
    const QUuid token = QUuid::createUuid();
    m_listVersion = token;
    setLoading(true);
    publish(m_cloudLoadError, std::optional<QString>(), &AppModel::cloudLoadErrorChanged);

    const DriveClient client = drive();
    m_listingStop.request_stop();
    m_listingStop = std::stop_source();
    std::stop_source listingStop = m_listingStop;
    const std::stop_token stop = listingStop.get_token();
    const std::stop_callback endsWithTheModel(
        m_lifetime.source.get_token(), [listingStop]() mutable { listingStop.request_stop(); });
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
    if (listed.value && m_connected) {
        QSet<QString> present;
        for (const DriveFile &file : *listed.value)
            present.insert(file.id);
        publish(m_cloudFiles, std::move(*listed.value), &AppModel::cloudFilesChanged);
        publish(m_cloudSelection, m_cloudSelection & present, &AppModel::cloudSelectionChanged);
    } else if (listed.failure) {
        publish(m_cloudLoadError, listed.failure, &AppModel::cloudLoadErrorChanged);
    }
    setLoading(false);
}

QCoro::Task<> AppModel::refreshCloudAndAccount()
{
    QPointer<AppModel> self(this);
    co_await refreshCloud();
    if (self && m_connected)
        co_await loadAccount();
}

QCoro::Task<> AppModel::refreshCloudThrottled()
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

void AppModel::clearCloudItems()
{
    publish(m_cloudFiles, QList<DriveFile>(), &AppModel::cloudFilesChanged);
    publish(m_cloudSelection, QSet<QString>(), &AppModel::cloudSelectionChanged);
}

void AppModel::startCloudListing()
{
    detach(refreshCloud(), {});
}

void AppModel::changeLocation(DriveLocation location)
{
    publish(m_location, location, &AppModel::locationChanged);
    publish(m_crumbs, QList<Crumb>(), &AppModel::crumbsChanged);
    clearCloudItems();
    setCloudSearch(QString());
    startCloudListing();
}

void AppModel::openCloud(const DriveFile &file)
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

void AppModel::navigateToCrumb(qsizetype index)
{
    if (index < 0 || index >= m_crumbs.size())
        return;
    publish(m_crumbs, m_crumbs.first(index + 1), &AppModel::crumbsChanged);
    clearCloudItems();
    startCloudListing();
}

void AppModel::goBackCloud()
{
    if (m_crumbs.isEmpty())
        return;
    m_crumbs.removeLast();
    emit crumbsChanged();
    clearCloudItems();
    startCloudListing();
}

void AppModel::navigateToCloudRoot()
{
    publish(m_crumbs, QList<Crumb>(), &AppModel::crumbsChanged);
    clearCloudItems();
    startCloudListing();
}

QCoro::Task<> AppModel::createFolder(QString name)
{
    if (!canUpload())
        co_return;
    const DriveClient client = drive();
    auto creating = proceed(
        this, client.createFolder(std::move(name), cloudParent(), m_lifetime.source.get_token()),
        [this](QString failure) { setError(failure); });
    const auto created = co_await creating;
    if (created)
        co_await refreshCloud();
}

QCoro::Task<> AppModel::rename(DriveFile file, QString name)
{
    const DriveClient client = drive();
    auto renaming = proceed(
        this, client.rename(std::move(file), std::move(name), m_lifetime.source.get_token()),
        [this](QString failure) { setError(failure); });
    const auto renamed = co_await renaming;
    if (renamed)
        co_await refreshCloud();
}

namespace {

using ItemStep = QCoro::Task<> (DriveClient::*)(DriveFile, std::stop_token) const;

// Applies step to each file in order and stops at the first failure. Cancelled also when the
// model went away meanwhile.
QCoro::Task<StepOutcome<void>> applyInOrder(QPointer<AppModel> self, DriveClient client,
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

QCoro::Task<> AppModel::trashFiles(QList<DriveFile> files)
{
    auto trashing = applyInOrder(QPointer<AppModel>(this), drive(), m_lifetime.source.get_token(),
                                 std::move(files), &DriveClient::trash);
    const StepOutcome<void> outcome = co_await trashing;
    if (outcome.cancelled())
        co_return;
    if (outcome.failure)
        setError(outcome.failure);
    co_await refreshCloudAndAccount();
}

QCoro::Task<> AppModel::deleteDriveFilesPermanently(QList<DriveFile> files)
{
    const qsizetype count = files.size();
    auto deleting = applyInOrder(QPointer<AppModel>(this), drive(), m_lifetime.source.get_token(),
                                 std::move(files), &DriveClient::deletePermanently);
    const StepOutcome<void> outcome = co_await deleting;
    if (outcome.cancelled())
        co_return;
    if (outcome.failure)
        setError(u"Không xoá được: "_s + *outcome.failure);
    else
        setToastMessage(u"Đã xoá vĩnh viễn "_s + QString::number(count) + u" mục"_s);
    co_await refreshCloudAndAccount();
}

void AppModel::openInBrowser(const DriveFile &file)
{
    QUrl url;
    if (file.webViewLink && !file.webViewLink->isEmpty())
        url = QUrl(*file.webViewLink, QUrl::StrictMode);
    if (!url.isValid() || url.isEmpty()) {
        url = Endpoints::current().driveWeb;
        url.setPath(u"/file/d/"_s + file.id + u"/view"_s);
    }
    if (mayOpen(url))
        m_desktop->openUrl(url);
}

} // namespace Tarnwick
