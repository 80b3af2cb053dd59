#include "appmodel.h"

#include "async.h"
#include "clock.h"
#include "desktop.h"
#include "driveclient.h"
#include "endpoints.h"
#include "errors.h"

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
    QList<DriveFile> kept;
    if (m_cloudSearch.isEmpty()) {
        kept = m_cloudFiles;
    } else {
        // Names written on another system may be decomposed; compare canonical forms.
        const QString needle = m_cloudSearch.normalized(QString::NormalizationForm_C);
        for (const DriveFile &file : m_cloudFiles) {
            if (file.name.normalized(QString::NormalizationForm_C)
                    .contains(needle, Qt::CaseInsensitive))
                kept.append(file);
        }
    }
    return m_cloudSort.sorted(
        kept, [](const DriveFile &f) { return f.name; },
        [](const DriveFile &f) { return f.isFolder(); },
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
    const std::stop_token stop = m_lifetime.source.get_token();
    const bool atRoot = m_crumbs.isEmpty();
    std::optional<QList<DriveFile>> answer;
    std::optional<QString> failure;
    try {
        if (m_location == DriveLocation::Team && atRoot) {
            auto listing = client.sharedDrives(stop);
            answer = co_await listing;
        } else {
            auto listing =
                client.list(cloudParent(), m_location == DriveLocation::Shared && atRoot, stop);
            answer = co_await listing;
        }
    } catch (const Cancelled &) {
    } catch (const std::exception &e) {
        failure = describe(e);
    }
    // A newer listing (or a sign-out) owns the pane now.
    if (!self || m_listVersion != token)
        co_return;
    if (answer && m_connected) {
        QSet<QString> present;
        for (const DriveFile &file : *answer)
            present.insert(file.id);
        publish(m_cloudFiles, std::move(*answer), &AppModel::cloudFilesChanged);
        publish(m_cloudSelection, m_cloudSelection & present, &AppModel::cloudSelectionChanged);
    } else if (failure) {
        publish(m_cloudLoadError, failure, &AppModel::cloudLoadErrorChanged);
    }
    setLoading(false);
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
    QPointer<AppModel> self(this);
    const QString parent = cloudParent();
    const DriveClient client = drive();
    std::optional<QString> failure;
    try {
        auto creating = client.createFolder(std::move(name), parent, m_lifetime.source.get_token());
        co_await creating;
    } catch (const Cancelled &) {
        co_return;
    } catch (const std::exception &e) {
        failure = describe(e);
    }
    if (!self)
        co_return;
    if (failure) {
        setError(failure);
        co_return;
    }
    co_await refreshCloud();
}

QCoro::Task<> AppModel::rename(DriveFile file, QString name)
{
    QPointer<AppModel> self(this);
    const DriveClient client = drive();
    std::optional<QString> failure;
    try {
        auto renaming =
            client.rename(std::move(file), std::move(name), m_lifetime.source.get_token());
        co_await renaming;
    } catch (const Cancelled &) {
        co_return;
    } catch (const std::exception &e) {
        failure = describe(e);
    }
    if (!self)
        co_return;
    if (failure) {
        setError(failure);
        co_return;
    }
    co_await refreshCloud();
}

namespace {

using ItemStep = QCoro::Task<> (DriveClient::*)(DriveFile, std::stop_token) const;

struct StepsOutcome
{
    bool abandoned = false; // cancelled, or the model went away meanwhile
    std::optional<QString> failure;
};

// Applies step to each file in order and stops at the first failure.
QCoro::Task<StepsOutcome> applyInOrder(QPointer<AppModel> self, DriveClient client,
                                       std::stop_token stop, QList<DriveFile> files, ItemStep step)
{
    StepsOutcome outcome;
    for (const DriveFile &file : files) {
        try {
            auto running = (client.*step)(file, stop);
            co_await running;
        } catch (const Cancelled &) {
            outcome.abandoned = true;
            co_return outcome;
        } catch (const std::exception &e) {
            outcome.failure = describe(e);
        }
        if (!self) {
            outcome.abandoned = true;
            co_return outcome;
        }
        if (outcome.failure)
            break;
    }
    co_return outcome;
}

} // namespace

QCoro::Task<> AppModel::trashFiles(QList<DriveFile> files)
{
    auto trashing = applyInOrder(QPointer<AppModel>(this), drive(), m_lifetime.source.get_token(),
                                 std::move(files), &DriveClient::trash);
    const StepsOutcome outcome = co_await trashing;
    if (outcome.abandoned)
        co_return;
    if (outcome.failure)
        setError(outcome.failure);
    co_await refreshCloud();
}

QCoro::Task<> AppModel::deleteDriveFilesPermanently(QList<DriveFile> files)
{
    const qsizetype count = files.size();
    auto deleting = applyInOrder(QPointer<AppModel>(this), drive(), m_lifetime.source.get_token(),
                                 std::move(files), &DriveClient::deletePermanently);
    const StepsOutcome outcome = co_await deleting;
    if (outcome.abandoned)
        co_return;
    if (outcome.failure)
        setError(u"Không xoá được: "_s + *outcome.failure);
    else
        setToastMessage(u"Đã xoá vĩnh viễn "_s + QString::number(count) + u" mục"_s);
    co_await refreshCloud();
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
