#pragma once

#include "drive/driveclient.h"
#include "transfer.h"
#include "uploadplan.h"

#include <QCoroTask>
#include <QList>
#include <QPointer>

#include <stop_token>

namespace Tarnwick {

class RunReporter;
class SpeedTracker;

// The work of one run of a transfer: plan it, then move its files with a worker pool.
//
// A download walks the Drive item into a flat list of files and fetches them with up to three
// workers; an upload scans the local item off the main thread, creates the Drive folders (each
// parent first, siblings side by side, each recorded in the checkpoint), then sends the files
// with up to six workers.
// The run holds its own copy of the Drive client, so the client outlives every request it starts;
// that copy retries transient failures of the requests that may be sent twice. Progress and
// checkpoints go to the reporter (the queue).
// After every wait the run checks its stop token first: a paused, cancelled or destroyed queue is
// never touched again.
class TransferRun final
{
public:
    static constexpr int maxDownloadWorkers = 3;
    static constexpr int maxUploadWorkers = 6;

    TransferRun(RunReporter &reporter, DriveClient drive, Transfer transfer, std::stop_token stop);
    TransferRun(const TransferRun &) = delete;
    TransferRun &operator=(const TransferRun &) = delete;
    ~TransferRun();

    // Returns on success; throws Cancelled, the failure summary, or the error that ended the run.
    QCoro::Task<> perform();
    // The transfer as this run last changed it (its measured total and file count), also after
    // it left the list.
    const Transfer &transfer() const { return m_transfer; }

private:
    QCoro::Task<> performDownload(SpeedTracker &tracker);
    QCoro::Task<> performUpload(SpeedTracker &tracker);
    // Creates the Drive folders of node, each parent before its children and siblings side by
    // side, reusing those the checkpoint knows, and appends its files to items depth first.
    QCoro::Task<> prepareUpload(UploadNode node, QString parent, QString displayFolder,
                                QList<UploadItem> *items);
    QCoro::Task<> prepareContents(UploadNode node, QString folderID, QString display,
                                  QList<UploadItem> *items);
    // The Drive folder for a local folder: the checkpoint's, or a new one made with its reserved
    // ID and recorded in the checkpoint.
    QCoro::Task<QString> ensureFolder(UploadNode node, QString parent);
    void update(const std::function<void(Transfer &)> &change);
    // Gives every folder and file of node that Drive does not have yet a reserved ID, recorded
    // in the checkpoint before any create goes out, so a create repeated after a crash or a lost
    // answer cannot make a second item.
    QCoro::Task<> reserveIDs(const UploadNode &node);

    QPointer<RunReporter> m_reporter;
    Transfer m_transfer;
    std::stop_token m_stop;
    DriveClient m_drive;
};

} // namespace Tarnwick
