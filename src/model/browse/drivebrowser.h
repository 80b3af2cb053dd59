#pragma once

#include "browse/crumb.h"
#include "browse/drivelocation.h"
#include "drive/driveclient.h"
#include "drive/drivefile.h"
#include "records/sortoption.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUuid>

// moc cannot parse the standard library's concepts, which <stop_token> pulls in first.
#ifndef Q_MOC_RUN
#include <stop_token>
#endif

#include <functional>
#include <optional>

namespace Tarnwick {

class Desktop;

// The Drive pane's slice: the area and folder shown, its items, the selection, the search, the
// sort and the listing, and the pane's operations on items. Failures go out as failed() and
// successes as notice(), which the model shows as its alert and its toast.
//
// Results that arrive late are guarded: a listing publishes only while it is the newest one
// (renewed by every listing and by signedOut). Main thread only.
class DriveBrowser final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DriveBrowser)

public:
    // desktop is not owned and outlives the slice; drive is its own copy of the model's client.
    // signedIn tells whether an account is connected; refreshAccount loads the account again
    // (both from the connection). The sort comes back from "sort-cloud".
    DriveBrowser(Desktop &desktop, DriveClient drive, std::function<bool()> signedIn,
                 std::function<QCoro::Task<>()> refreshAccount, QObject *parent = nullptr);
    // Ends the requests still running.
    ~DriveBrowser() override;

    Desktop &desktop() const { return m_desktop; }

    DriveLocation location() const { return m_location; }
    // The folders entered below the area's root, outermost first.
    const QList<Crumb> &crumbs() const { return m_crumbs; }
    // The items of the shown folder in the order Drive listed them.
    const QList<DriveFile> &cloudFiles() const { return m_cloudFiles; }
    // Selected items by Drive ID.
    const QSet<QString> &cloudSelection() const { return m_cloudSelection; }
    void setCloudSelection(QSet<QString> selection);
    const QString &cloudSearch() const { return m_cloudSearch; }
    void setCloudSearch(QString search);
    // Every change is stored under "sort-cloud".
    const SortOption &cloudSort() const { return m_cloudSort; }
    void setCloudSort(SortOption sort);
    // The newest listing, or a lookup for a link download, is still running.
    bool loading() const { return m_loading; }
    void setLoading(bool loading);
    // Why the newest listing failed.
    const std::optional<QString> &cloudLoadError() const { return m_cloudLoadError; }

    // The folder listed and the one new folders and uploads go into: the last crumb's ID, or
    // "root".
    QString cloudParent() const;
    // Connected, and in My Drive or inside a folder (the roots of the shared areas take nothing).
    bool canUpload() const;
    // cloudFiles whose names contain cloudSearch (case-insensitive), ordered by cloudSort.
    QList<DriveFile> visibleCloud() const;
    // The listed items whose ID is selected, in listing order.
    QList<DriveFile> selectedCloudFiles() const;
    qint64 cloudSelectedBytes() const;
    // "/" and the crumb names joined with "/", or "/" and the area's title at its root.
    QString currentCloudPath() const;

    // Lists the shown folder (nothing when signed out). Only the newest listing may publish its
    // items or error and end `loading`; the items stay on screen while it runs and when it fails.
    QCoro::Task<> refreshCloud();
    // "Làm mới", and after deletions: the listing, then the account with its quota.
    QCoro::Task<> refreshCloudAndAccount();
    // refreshCloud unless this path ran one less than 2 seconds ago (then nothing).
    QCoro::Task<> refreshCloudThrottled();
    // Navigation: each publishes its changes and starts a listing.
    // Shows the root of an area (also the one shown), clearing items, selection and search.
    void changeLocation(DriveLocation location);
    // Enters a folder (clearing items, selection and search) or opens any other item in the
    // browser.
    void openCloud(const DriveFile &file);
    // Goes up to the crumb at index (0 is the outermost); nothing when out of range.
    void navigateToCrumb(qsizetype index);
    // Goes up one level; nothing at the root.
    void goBackCloud();
    void navigateToCloudRoot();

    // After a sign-in: My Drive's root, without listing yet.
    void showMyDriveRoot();
    // After signing out: no items, selection or crumbs, and the listing in flight is dropped.
    void signedOut();

    // Item operations; failures go to failed().
    // Creates a folder in cloudParent(), then lists; nothing unless canUpload().
    QCoro::Task<> createFolder(QString name);
    QCoro::Task<> rename(DriveFile file, QString name);
    // Trashes one after another, stopping at the first failure, then lists.
    QCoro::Task<> trashFiles(QList<DriveFile> files);
    // Deletes one after another, stopping at the first failure, then lists; a notice tells the
    // count on success.
    QCoro::Task<> deleteDriveFilesPermanently(QList<DriveFile> files);
    // Opens the item's web page, but only an https page on Google's web domain or below it.
    void openInBrowser(const DriveFile &file);

    // Settings key.
    static const QString sortCloudKey;

signals:
    void locationChanged();
    void crumbsChanged();
    void cloudFilesChanged();
    void cloudSelectionChanged();
    void cloudSearchChanged();
    void cloudSortChanged();
    void loadingChanged();
    void cloudLoadErrorChanged();
    // A short success notice (the window's toast).
    void notice(const QString &text);
    // A failure for the window's alert.
    void failed(const QString &message);

private:
    // Empties items and selection before a listing of another folder.
    void clearCloudItems();
    void startCloudListing();

    Desktop &m_desktop;
    DriveClient m_drive;
    std::function<bool()> m_signedIn;
    std::function<QCoro::Task<>()> m_refreshAccount;
    DriveLocation m_location = DriveLocation::MyDrive;
    QList<Crumb> m_crumbs;
    QList<DriveFile> m_cloudFiles;
    QSet<QString> m_cloudSelection;
    QString m_cloudSearch;
    SortOption m_cloudSort;
    bool m_loading = false;
    std::optional<QString> m_cloudLoadError;
    QUuid m_listVersion = QUuid::createUuid();
    // Stops the listing in flight: a newer one or a sign-out replaces it, and a server that
    // pages forever must not keep every replaced listing growing to its ceiling.
    std::stop_source m_listingStop;
    std::optional<QDateTime> m_lastCloudRefresh; // missing: the distant past
    std::stop_source m_lifetime;
};

} // namespace Tarnwick
