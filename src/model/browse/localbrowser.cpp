#include "browse/localbrowser.h"

#include "async/clock.h"
#include "desktop.h"
#include "browse/filterbyname.h"
#include "futureresult.h"
#include "browse/localfolderlisting.h"
#include "publish.h"
#include "stepoutcome.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSettings>
#include <QtConcurrent/QtConcurrentRun>

#include <chrono>

using namespace Qt::StringLiterals;

namespace Tarnwick {

const QString LocalBrowser::localFolderKey = u"local-folder"_s;
const QString LocalBrowser::sortLocalKey = u"sort-local"_s;

namespace {

constexpr std::chrono::milliseconds localRefreshInterval{2000};

QString absoluteFolder(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

LocalBrowser::LocalBrowser(Desktop &desktop, QObject *parent)
    : QObject(parent)
    , m_desktop(desktop)
{
    const QByteArray stored = QSettings().value(sortLocalKey).toByteArray();
    m_localSort = SortOption::fromJsonBytes(stored).value_or(SortOption{});
    m_localPool.setMaxThreadCount(2);
}

LocalBrowser::~LocalBrowser() = default;

void LocalBrowser::setLocalSelection(QSet<QString> selection)
{
    publish(this, m_localSelection, std::move(selection), &LocalBrowser::localSelectionChanged);
}

void LocalBrowser::setLocalSearch(QString search)
{
    publish(this, m_localSearch, std::move(search), &LocalBrowser::localSearchChanged);
}

void LocalBrowser::setLocalSort(SortOption sort)
{
    // Stored on every assignment, as the sort menu expects its choice to stick.
    QSettings().setValue(sortLocalKey, sort.toJsonBytes());
    publish(this, m_localSort, std::move(sort), &LocalBrowser::localSortChanged);
}

QList<LocalFile> LocalBrowser::visibleLocal() const
{
    return filterAndSortLocal(m_localFiles, m_localSearch, m_localSort);
}

QList<LocalFile> LocalBrowser::filterAndSortLocal(const QList<LocalFile> &files, const QString &search,
                                              const SortOption &sort)
{
    // A listing already comes in this order: sorting 100,000 names again costs as much as
    // reading them.
    if (search.isEmpty() && sort == LocalFolderListing::order)
        return files;
    return sort.sorted(
        filterByName(files, search, [](const LocalFile &f) { return f.name(); }),
        [](const LocalFile &f) { return f.name(); }, [](const LocalFile &f) { return f.isFolder; },
        [](const LocalFile &f) { return f.modifiedSort(); },
        [](const LocalFile &f) { return f.size; });
}

qint64 LocalBrowser::localSelectedBytes() const
{
    if (m_localSelection.isEmpty())
        return 0;
    qint64 total = 0;
    for (const LocalFile &file : m_localFiles) {
        if (m_localSelection.contains(file.url))
            total += file.size;
    }
    return total;
}

QStringList LocalBrowser::selectedLocalEntries(bool folders) const
{
    QStringList selected;
    for (const LocalFile &file : m_localFiles) {
        if (file.isFolder == folders && m_localSelection.contains(file.url))
            selected.append(file.url);
    }
    return selected;
}

QCoro::Task<> LocalBrowser::navigateLocal(QString url)
{
    const QString folder = absoluteFolder(url);
    const quint64 request = ++m_localListing;
    QPointer<LocalBrowser> self(this);
    auto reading = resultLater(QtConcurrent::run(&m_localPool, &LocalFolderListing::read, folder));
    LocalFolderListing listing = co_await reading;
    if (!self || request != m_localListing)
        co_return;

    if (listing.failure) {
        emit failed(u"Không mở được thư mục: "_s + *listing.failure);
        co_return;
    }

    const bool selectionChanged = !m_localSelection.isEmpty();
    const bool searchChanged = !m_localSearch.isEmpty();
    m_localFiles = std::move(listing.files);
    m_localURL = folder;
    m_localSelection.clear();
    m_localSearch.clear();
    emit localFilesChanged();
    emit localURLChanged();
    if (selectionChanged)
        emit localSelectionChanged();
    if (searchChanged)
        emit localSearchChanged();
    QSettings().setValue(localFolderKey, folder);
}

QCoro::Task<> LocalBrowser::navigateLocalThrottled(QString url)
{
    const QDateTime now = Clock::current().now();
    if (m_lastLocalRefresh) {
        const qint64 elapsed = m_lastLocalRefresh->msecsTo(now);
        // A clock set back counts as time gone by, or refreshes would stop until it caught up.
        if (elapsed >= 0 && elapsed < qint64(localRefreshInterval.count()))
            co_return;
    }
    m_lastLocalRefresh = now;
    co_await navigateLocal(std::move(url));
}

QCoro::Task<> LocalBrowser::chooseLocal()
{
    QPointer<LocalBrowser> self(this);
    Desktop::FolderRequest request;
    request.prompt = u"Chọn thư mục"_s;
    request.message = u"Chọn thư mục anh muốn duyệt trong Tarnwick."_s;
    request.directory = m_localURL;
    // Awaited through a local: g++ 12 mishandles temporaries inside a co_await expression.
    auto asking = m_desktop.chooseFolder(std::move(request));
    const std::optional<QString> picked = co_await asking;
    if (!self || !picked)
        co_return;
    co_await navigateLocal(*picked);
}

QCoro::Task<> LocalBrowser::trashLocalFiles(QList<LocalFile> files)
{
    QPointer<LocalBrowser> self(this);
    Desktop *desktop = &m_desktop;
    int moved = 0;
    for (const LocalFile &file : files) {
        auto trashing = settle(desktop->moveToTrash(file.url));
        const StepOutcome<void> trashed = co_await trashing;
        if (trashed.done())
            ++moved;
        if (!self)
            co_return;
        if (trashed.failure)
            emit failed(u"Không thể chuyển vào thùng rác: "_s + *trashed.failure);
    }
    if (moved == 0)
        co_return;
    emit notice(u"Đã chuyển "_s + QString::number(moved) + u" mục vào thùng rác"_s);
    if (m_localURL)
        co_await navigateLocal(*m_localURL);
}

} // namespace Tarnwick
