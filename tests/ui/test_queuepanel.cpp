// The transfer queue panel against the transfers slice signed in to the emulator: rows and file sub-rows by
// state, the header, the row buttons clicked where they are drawn, the resize limits and the
// stored height, the item model's consistency while transfers run, and the status line.
#include "../queue/queuetesting.h"
#include "support/testsupport.h"

#include "queue/queueresizehandle.h"
#include "queue/queuetexts.h"
#include "queue/transferqueuemodel.h"
#include "queue/transferqueuepanel.h"
#include "queue/transferqueueview.h"
#include "queue/transferrowdelegate.h"
#include "window/mainwindow.h"
#include "window/sidebar.h"
#include "window/sidebutton.h"
#include "window/windowstatusbar.h"

#include "transfer/transferqueue.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QScrollBar>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>
#include <QToolTip>

#include <algorithm>
#include <iostream>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace Tarnwick;
using namespace Tarnwick::Testing;
using State = TransferState;
using Kind = QueueTexts::RowButton::Kind;
using Column = TransferQueueModel::Column;

namespace {

class QueuePanel : public QueueTest
{
protected:
    ~QueuePanel() override
    {
        // What still runs is cancelled and ends while the slice and the emulator are there.
        for (const Transfer &t : QList<Transfer>(transfers->list()))
            if (!isFinished(t.state))
                transfers->cancelTransfer(t.id);
        waitUntil([&] { return transfers->queue().activeRuns() == 0; });
    }

    // A Drive folder of `count` files of `size` bytes, each held to bytesPerSecond when above 0.
    QString driveFolder(const QString &name, int count, qint64 size, qint64 bytesPerSecond = 0)
    {
        const QString folder = emulator.createFolder(account.email, name);
        for (int i = 1; i <= count; ++i) {
            const QString id = emulator.createFile(
                account.email, u"f%1.bin"_s.arg(i, 2, 10, QChar(u'0')), bytes(size, quint64(i)),
                folder);
            if (bytesPerSecond > 0)
                throttleMedia(id, bytesPerSecond);
        }
        return folder;
    }
    // A Drive file that downloads far slower than any test lasts.
    DriveFile slowFile(const QString &name)
    {
        const QString id = emulator.createFile(account.email, name, bytes(4'000'000, 7));
        throttleMedia(id, 16 * 1024);
        return driveFile(id);
    }
    DriveFile refusedFile(const QString &name, int times = 0)
    {
        const QString id = emulator.createFile(account.email, name, bytes(5000, 3));
        Emulator::FaultRule refuse = Emulator::FaultRule::respondError(
            403, u"forbidden"_s, u"Not allowed"_s, u"GET"_s, u"^/drive/v3/files/"_s + id + u'$');
        refuse.query = u"alt=media"_s;
        refuse.times = times;
        emulator.addFault(refuse);
        return driveFile(id);
    }
    void show(QWidget &panel)
    {
        panel.resize(1120, int(TransferQueuePanel::maximumHeight));
        panel.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    }
    static QModelIndex row(TransferQueuePanel &panel, const QUuid &id, int column = 0)
    {
        return panel.queueModel()->indexOf(id).siblingAtColumn(column);
    }
    static QString text(const QModelIndex &index, int role = Qt::DisplayRole)
    {
        return index.data(role).toString();
    }
    static QStringList hints(TransferQueuePanel &panel, const QUuid &id)
    {
        const QModelIndex cell = row(panel, id, Column::ButtonsColumn);
        QStringList out;
        for (const auto &placed : TransferRowDelegate::buttons(cell, panel.view()->visualRect(cell)))
            out.append(placed.button.hint);
        return out;
    }
    // Clicks the row's button of this kind where the delegate draws it.
    static void click(TransferQueuePanel &panel, const QUuid &id, Kind kind)
    {
        const QModelIndex cell = row(panel, id, Column::ButtonsColumn);
        ASSERT_TRUE(cell.isValid());
        panel.view()->scrollTo(cell);
        const QRect rect = panel.view()->visualRect(cell);
        for (const auto &placed : TransferRowDelegate::buttons(cell, rect)) {
            if (placed.button.kind == kind) {
                QTest::mouseClick(panel.view()->viewport(), Qt::LeftButton, {},
                                  placed.rect.center());
                return;
            }
        }
        FAIL() << "no such button in the row";
    }
    static QString tooltipAt(TransferQueuePanel &panel, const QPoint &pos)
    {
        QWidget *viewport = panel.view()->viewport();
        QHelpEvent help(QEvent::ToolTip, pos, viewport->mapToGlobal(pos));
        QCoreApplication::sendEvent(viewport, &help);
        return QToolTip::text();
    }
    // Drags the handle by dy points (negative: up) in one move.
    static void drag(TransferQueuePanel &panel, int dy, bool release = true)
    {
        QueueResizeHandle *handle = panel.handle();
        const QPoint start = handle->rect().center();
        QTest::mousePress(handle, Qt::LeftButton, {}, start);
        QTest::mouseMove(handle, start + QPoint(0, dy));
        if (release)
            QTest::mouseRelease(handle, Qt::LeftButton, {}, start + QPoint(0, dy));
    }
    static void save(QWidget &widget, const QString &name)
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        widget.grab().save(artifactDir() + u"/"_s + name);
    }
};

TEST_F(QueuePanel, RowsAndSubRowsForEveryState)
{
    TransferQueuePanel panel(transfers);
    show(panel);
    EXPECT_EQ(panel.countLabel()->text(), u"Trống. Kéo thả file giữa hai khung để bắt đầu.");
    EXPECT_FALSE(panel.clearButton()->isEnabled());

    // A finished and a failed download first, then enough slow work to fill all six slots.
    const QString okId = emulator.createFile(account.email, u"ok.bin"_s, bytes(2000, 1));
    download({driveFile(okId), refusedFile(u"bad.bin"_s)}, localDir.path());
    ASSERT_TRUE(allFinished());
    const QUuid ok = idAt(0), bad = idAt(1);

    const QString album = driveFolder(u"Album"_s, 3, 3'000'000, 16 * 1024);
    QList<DriveFile> work{driveFile(album)};
    for (const QString &name : {u"s1.bin"_s, u"s2.bin"_s, u"s3.bin"_s, u"s4.bin"_s, u"s5.bin"_s,
                                u"w1.bin"_s, u"w2.bin"_s, u"c1.bin"_s})
        work.append(slowFile(name));
    download(work, localDir.path());
    const QUuid albumId = idAt(2), paused = idAt(3), promoted = idAt(8), waiting = idAt(9),
                cancelled = idAt(10);
    ASSERT_TRUE(waitUntil([&] { return transfer(albumId)->filesInFlight.size() == 3; }));
    transfers->cancelTransfer(cancelled);
    transfers->pauseTransfer(paused);
    ASSERT_TRUE(reaches(promoted, State::Working));
    ASSERT_TRUE(waitUntil([&] { return panel.countLabel()->text() == u"6 đang chạy · 1 chờ"; }));
    EXPECT_TRUE(panel.clearButton()->isEnabled());

    TransferQueueModel &rows = *panel.queueModel();
    ASSERT_EQ(rows.rowCount(), 11);
    // Status, remaining time and buttons by state; only the running folder has file sub-rows.
    struct Expect
    {
        QUuid id;
        QString status;
        QString remaining;
        QStringList hints;
    };
    const QList<Expect> expected{
        {ok, u"Hoàn tất"_s, u"—"_s, {u"Xóa khỏi danh sách"_s}},
        {bad, u"Lỗi"_s, u"—"_s, {u"Thử lại từ chỗ đã dừng"_s, u"Xóa khỏi danh sách"_s}},
        {paused, u"Tạm dừng"_s, u"—"_s, {u"Tiếp tục"_s, u"Hủy tác vụ"_s}},
        {waiting, u"Đang chờ"_s, u"—"_s, {u"Hủy tác vụ"_s}},
        {cancelled, u"Đã hủy"_s, u"—"_s, {u"Xóa khỏi danh sách"_s}},
    };
    for (const Expect &e : expected) {
        SCOPED_TRACE(e.status.toStdString());
        EXPECT_EQ(text(row(panel, e.id, Column::StatusColumn)), e.status);
        EXPECT_EQ(text(row(panel, e.id, Column::RemainingColumn)), e.remaining);
        EXPECT_EQ(hints(panel, e.id), e.hints);
        EXPECT_EQ(rows.rowCount(row(panel, e.id)), 0);
    }
    // The failure's reason shows on its status.
    EXPECT_FALSE(text(row(panel, bad, Column::StatusColumn), Qt::ToolTipRole).isEmpty());
    EXPECT_EQ(text(row(panel, ok, Column::DirectionColumn)), u"Transfer");
    EXPECT_EQ(text(row(panel, ok, Column::SourceColumn)), u"/Drive của tôi/ok.bin");
    EXPECT_EQ(text(row(panel, ok, Column::SizeColumn)), u"2 KB / 2 KB");
    EXPECT_EQ(text(row(panel, ok, Column::ProgressColumn)), u"100%");

    const QModelIndex folder = row(panel, albumId);
    EXPECT_EQ(hints(panel, albumId), (QStringList{u"Tạm dừng"_s, u"Hủy tác vụ"_s}));
    const QString status = text(folder.siblingAtColumn(Column::StatusColumn));
    EXPECT_TRUE(status == u"Đang chạy" || status.endsWith(u'%')) << status.toStdString();
    ASSERT_TRUE(waitUntil([&] { return rows.rowCount(folder) == 3; }));
    EXPECT_TRUE(panel.view()->isExpanded(folder));
    QStringList names;
    for (int i = 0; i < 3; ++i) {
        const QModelIndex sub = rows.index(i, 0, folder);
        EXPECT_EQ(text(sub), u"File");
        EXPECT_FALSE(panel.view()->visualRect(sub).isEmpty());
        names.append(text(sub.siblingAtColumn(Column::SourceColumn)));
        EXPECT_TRUE(TransferRowDelegate::buttons(sub.siblingAtColumn(Column::ButtonsColumn),
                                                 QRect(0, 0, 40, 34))
                        .isEmpty());
    }
    names.sort();
    EXPECT_EQ(names, (QStringList{u"f01.bin [1/3]"_s, u"f02.bin [2/3]"_s, u"f03.bin [3/3]"_s}));

    // Working time moves with the clock; the remaining time is a guess or "?".
    clock.advance(65s);
    EXPECT_TRUE(text(folder.siblingAtColumn(Column::RemainingColumn), Qt::ToolTipRole)
                    .startsWith(u"đã chạy 1p"_s));
    const QString left = text(folder.siblingAtColumn(Column::RemainingColumn));
    EXPECT_TRUE(left == u"?" || left.startsWith(u"còn ~"_s)) << left.toStdString();
    // The tick announces only the time cells of the running rows.
    QSignalSpy changed(&rows, &QAbstractItemModel::dataChanged);
    rows.refreshTimes();
    ASSERT_EQ(changed.size(), 6 + 0);
    for (const QList<QVariant> &args : changed) {
        const auto from = args[0].value<QModelIndex>(), to = args[1].value<QModelIndex>();
        EXPECT_EQ(from, to);
        EXPECT_EQ(from.column(), int(Column::RemainingColumn));
        EXPECT_EQ(rows.transfer(from)->state, State::Working);
    }
    EXPECT_TRUE(rows.timeTimer()->isActive());
    save(panel, u"queue-panel-states.png"_s);

    // "Xóa đã xong" takes the done, failed and cancelled rows and then has nothing left to do.
    QTest::mouseClick(panel.clearButton(), Qt::LeftButton);
    EXPECT_EQ(rows.rowCount(), 8);
    EXPECT_FALSE(row(panel, ok).isValid());
    ASSERT_TRUE(waitUntil([&] { return !panel.clearButton()->isEnabled(); }));

    QSignalSpy hidden(&panel, &TransferQueuePanel::hideRequested);
    QTest::mouseClick(panel.hideButton(), Qt::LeftButton);
    EXPECT_EQ(hidden.size(), 1);
}

TEST_F(QueuePanel, RowButtonsPauseResumeRetryAndCancelWhereTheyAreDrawn)
{
    TransferQueuePanel panel(transfers);
    show(panel);
    download({slowFile(u"slow.bin"_s), refusedFile(u"once.bin"_s, 1)}, localDir.path());
    const QUuid slow = idAt(0), once = idAt(1);
    ASSERT_TRUE(reaches(once, State::Failed));

    // The help texts are the ones drawn at each button.
    const QModelIndex failedCell = row(panel, once, Column::ButtonsColumn);
    const auto failedButtons =
        TransferRowDelegate::buttons(failedCell, panel.view()->visualRect(failedCell));
    ASSERT_EQ(failedButtons.size(), 2);
    EXPECT_EQ(tooltipAt(panel, failedButtons[0].rect.center()), u"Thử lại từ chỗ đã dừng");
    EXPECT_EQ(tooltipAt(panel, failedButtons[1].rect.center()), u"Xóa khỏi danh sách");

    // Retry queues it again; the refusal was for one time only, so it arrives.
    click(panel, once, Kind::Retry);
    ASSERT_TRUE(reaches(once, State::Done));
    EXPECT_EQ(sha256OfFile(local(u"once.bin"_s)), emulator.contentSha256(at(1).remoteFile->id));

    ASSERT_TRUE(reaches(slow, State::Working));
    click(panel, slow, Kind::Pause);
    EXPECT_EQ(transfer(slow)->state, State::Paused);
    click(panel, slow, Kind::Resume);
    ASSERT_TRUE(reaches(slow, State::Working));
    // Cancel of a running transfer ends it; a second click takes it off the list.
    click(panel, slow, Kind::Cancel);
    ASSERT_TRUE(reaches(slow, State::Cancelled));
    EXPECT_EQ(hints(panel, slow), (QStringList{u"Xóa khỏi danh sách"_s}));
    click(panel, slow, Kind::Cancel);
    EXPECT_EQ(transfer(slow), nullptr);
    EXPECT_EQ(panel.queueModel()->rowCount(), 1);
    // A click beside the buttons does nothing.
    const QModelIndex doneCell = row(panel, once, Column::ButtonsColumn);
    QTest::mouseClick(panel.view()->viewport(), Qt::LeftButton, {},
                      panel.view()->visualRect(doneCell).topLeft() + QPoint(2, 2));
    EXPECT_NE(transfer(once), nullptr);
}

TEST_F(QueuePanel, HeightStaysBetweenLimitsAndIsStoredAtOnce)
{
    QSettings settingsStore;
    {
        TransferQueuePanel panel(transfers);
        show(panel);
        // A fresh installation shows four transfer rows.
        EXPECT_EQ(panel.queueHeight(), 240);
        EXPECT_EQ(panel.height(), 240);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        EXPECT_GE(panel.view()->viewport()->height(), 4 * TransferRowDelegate::rowHeight);

        drag(panel, -500, false);
        EXPECT_EQ(panel.queueHeight(), 640);
        EXPECT_EQ(panel.height(), 640);
        EXPECT_TRUE(panel.isDragging());
        // Stored during the drag, not only when it ends.
        EXPECT_EQ(settingsStore.value(TransferQueuePanel::heightKey).toDouble(), 640);
        QTest::mouseRelease(panel.handle(), Qt::LeftButton);
        EXPECT_FALSE(panel.isDragging());

        drag(panel, 2000);
        EXPECT_EQ(panel.queueHeight(), 64);
        drag(panel, -36);
        EXPECT_EQ(panel.queueHeight(), 100);
        EXPECT_EQ(panel.handle()->toolTip(), u"Kéo lên hoặc xuống để đổi chiều cao hàng đợi");
        EXPECT_EQ(panel.handle()->cursor().shape(), Qt::SizeVerCursor);
    }
    // The next panel starts from the stored height; stored nonsense falls back or is clamped.
    EXPECT_EQ(TransferQueuePanel(transfers).queueHeight(), 100);
    settingsStore.setValue(TransferQueuePanel::heightKey, u"tall"_s);
    EXPECT_EQ(TransferQueuePanel(transfers).queueHeight(), 240);
    settingsStore.setValue(TransferQueuePanel::heightKey, 9000);
    EXPECT_EQ(TransferQueuePanel(transfers).queueHeight(), 640);
    settingsStore.setValue(TransferQueuePanel::heightKey, u"nan"_s);
    EXPECT_EQ(TransferQueuePanel(transfers).queueHeight(), 240);
    EXPECT_EQ(TransferQueuePanel::clampHeight(64.5), 64.5);
    EXPECT_EQ(TransferQueuePanel::clampHeight(-3), 64);
}

TEST_F(QueuePanel, ItemModelStaysConsistentWhileSixFolderTransfersRun)
{
    TransferQueuePanel panel(transfers);
    show(panel);
    TransferQueueModel &rows = *panel.queueModel();
    QAbstractItemModelTester tester(&rows, QAbstractItemModelTester::FailureReportingMode::Fatal);
    int resets = 0, updates = 0, inserted = 0, removed = 0;
    QMap<int, int> rowUpdates;
    QObject::connect(&rows, &QAbstractItemModel::modelReset, [&] { ++resets; });
    QObject::connect(&rows, &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex &from, const QModelIndex &to) {
                         ++updates;
                         // One row, or a block of one transfer's files.
                         EXPECT_EQ(from.parent(), to.parent());
                         if (!from.parent().isValid()) {
                             EXPECT_EQ(from.row(), to.row());
                             ++rowUpdates[from.row()];
                         }
                     });
    QObject::connect(&rows, &QAbstractItemModel::rowsInserted,
                     [&](const QModelIndex &parent) { inserted += parent.isValid() ? 1 : 0; });
    QObject::connect(&rows, &QAbstractItemModel::rowsRemoved,
                     [&](const QModelIndex &parent) { removed += parent.isValid() ? 1 : 0; });

    QList<DriveFile> folders;
    for (int i = 0; i < 6; ++i)
        folders.append(driveFile(driveFolder(u"Folder %1"_s.arg(i), 6, 400'000, 2'000'000)));
    QElapsedTimer running;
    running.start();
    download(folders, localDir.path());
    ASSERT_TRUE(allFinished());
    const double seconds = running.elapsed() / 1000.0;

    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(at(i).state, State::Done);
        EXPECT_EQ(rows.rowCount(rows.index(i, 0)), 0);
    }
    EXPECT_EQ(resets, 0);
    EXPECT_GT(inserted, 6);
    EXPECT_EQ(inserted, removed);
    // Hundreds of progress reports a second reach each row at the pace a person reads: about
    // ten a second, beside the few changes of state announced at once.
    const int readable = int(seconds * 1000 / TransferQueueModel::rowIntervalMs) + 6;
    for (auto [row, count] : rowUpdates.asKeyValueRange()) {
        EXPECT_GE(count, 2) << "row " << row;
        EXPECT_LE(count, readable) << "row " << row;
    }
    EXPECT_EQ(rowUpdates.size(), 6);
    std::cout << "queue model: " << updates << " row updates, " << inserted
              << " file sub-rows in " << seconds << " s (" << int(updates / seconds)
              << " updates/s), 0 resets\n";
}

// Six transfers caught in flight: every file moving, speeds measured. Speeds are taken on the test
// clock, held here so that only the test moves it (the session's delayed saves would otherwise
// push it on by seconds at every change): first every file reports bytes at one instant, then the
// clock moves one second once, and the next report of each transfer measures its speed over that
// second. The clock then stands still again, so the speeds stay measured however fast or slow the
// machine is.
TEST_F(QueuePanel, SixTransfersRunningPictureAndRepaintTime)
{
    useModel();
    TransferQueuePanel panel(transfers);
    show(panel);
    panel.setQueueHeight(420);
    clock.setHeld(true);
    QList<DriveFile> work;
    for (int i = 0; i < 5; ++i)
        work.append(
            driveFile(driveFolder(u"Ảnh chuyến đi %1"_s.arg(i + 1), 4 + i, 3'000'000, 256 * 1024)));
    work.append(slowFile(u"Báo cáo quý.pdf"_s));
    work.append(slowFile(u"video-gia-dinh.mp4"_s));
    download(work, localDir.path());
    const auto describe = [&] {
        std::string out;
        for (const Transfer &t : transfers->list())
            out += std::to_string(int(t.state)) + "/" + std::to_string(t.filesInFlight.size()) +
                   "/" + std::to_string(t.done) + "/" + std::to_string(t.speed) + " ";
        return out;
    };
    const auto moving = [&](const Transfer &t, qsizetype files) {
        if (t.state != State::Working || t.filesInFlight.size() < files)
            return false;
        return std::all_of(t.filesInFlight.begin(), t.filesInFlight.end(),
                           [](const FileInFlight &w) { return w.done > 0; });
    };
    ASSERT_TRUE(waitUntil(
        [&] {
            // The folders far enough along for their bars to show.
            for (int i = 0; i < 5; ++i)
                if (!moving(at(i), 3) || at(i).done * 100 < at(i).total)
                    return false;
            return moving(at(5), 1);
        },
        30s))
        << describe();
    clock.advance(1s);
    ASSERT_TRUE(waitUntil(
        [&] {
            // Every file row too: each shows the speed of its own last report.
            for (int i = 0; i < 6; ++i)
                if (at(i).speed <= 0 ||
                    std::any_of(at(i).filesInFlight.begin(), at(i).filesInFlight.end(),
                                [](const FileInFlight &w) { return w.speed <= 0; }))
                    return false;
            return true;
        },
        30s))
        << describe();
    EXPECT_EQ(panel.countLabel()->text(), u"6 đang chạy · 1 chờ");
    // The rows show what the queue holds now, not what it held at their last frame.
    panel.queueModel()->flushPending();
    save(panel, u"queue-panel-six-running.png"_s);
    panel.view()->scrollToBottom();
    save(panel, u"queue-panel-six-running-end.png"_s);
    {
        MainWindow window(model.get());
        model->setShowTransfers(true);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        save(window, u"window-with-queue.png"_s);
    }

    // A repaint of the whole panel, the way the window redraws it.
    QList<qint64> times;
    for (int i = 0; i < 60; ++i) {
        QElapsedTimer timer;
        timer.start();
        panel.grab();
        times.append(timer.nsecsElapsed());
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2] / 1e6;
    const double worst = times.last() / 1e6;
    std::cout << "queue panel repaint (grab, " << panel.width() << "x" << panel.height()
              << ", 6 running, " << panel.queueModel()->rowCount() << " rows): median " << median
              << " ms, max " << worst << " ms\n";
    RecordProperty("repaint_median_ms", QString::number(median, 'f', 2).toStdString());
}

TEST_F(QueuePanel, ManyUpdatesASecondNeverResetTheRows)
{
    // Six working transfers of six files each, moved by hand as fast as the loop goes.
    TransferQueuePanel panel(transfers);
    show(panel);
    TransferQueue &queue = transfers->queue();
    QList<QUuid> ids;
    for (int i = 0; i < 6; ++i) {
        Transfer t = Transfer::waiting(u"Folder %1"_s.arg(i));
        t.remoteFile = DriveFile{};
        t.state = State::Working;
        t.total = 36'000'000;
        t.totalFilesCount = 36;
        for (int w = 0; w < 6; ++w)
            t.beginFile(w, w + 1, 36, u"f%1.bin"_s.arg(w), u"/a"_s, u"/b"_s, 1'000'000, false);
        ids.append(t.id);
        queue.append(t);
    }
    int resets = 0;
    QObject::connect(panel.queueModel(), &QAbstractItemModel::modelReset, [&] { ++resets; });
    constexpr int rounds = 3000;
    QElapsedTimer timer;
    timer.start();
    for (int n = 0; n < rounds; ++n) {
        const QUuid &id = ids[n % 6];
        queue.update(id, [n](Transfer &t) {
            const int w = (n / 6) % 6;
            t.done += 1000;
            t.speed = 1.5e6;
            t.fileProgress(w, (n / 36) * 1000, 1.5e6);
            // Now and then a file ends and the slot takes the next one.
            if (n % 50 == 49)
                t.beginFile(w, 7 + n / 50, 36, u"g%1.bin"_s.arg(n), u"/a"_s, u"/b"_s, 1'000'000,
                            false);
        });
        if (n % 60 == 0)
            QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    const double perUpdate = double(timer.nsecsElapsed()) / rounds / 1000.0;
    // The table gathers its repaints; the last change still reaches the screen.
    struct PaintCounter final : QObject
    {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *event) override
        {
            paints += event->type() == QEvent::Paint ? 1 : 0;
            return false;
        }
    } counter;
    panel.view()->viewport()->installEventFilter(&counter);
    queue.update(ids[0], [](Transfer &t) { t.done += 1000; });
    EXPECT_TRUE(waitUntil([&] { return counter.paints > 0; }));
    EXPECT_EQ(resets, 0);
    EXPECT_EQ(panel.queueModel()->rowCount(panel.queueModel()->index(0, 0)), 6);
    EXPECT_LT(perUpdate, 2000.0); // far more than hundreds a second
    std::cout << "queue model under the view: " << rounds << " updates, " << perUpdate
              << " µs per update\n";
    for (const QUuid &id : ids)
        queue.remove(id);
}

TEST_F(QueuePanel, ProgressIsAnnouncedAtTheReadingPaceAndOnlyForRowsInSight)
{
    TransferQueuePanel panel(transfers);
    show(panel);
    panel.setQueueHeight(200); // room for a few rows only
    TransferQueue &queue = transfers->queue();
    QList<QUuid> ids;
    for (int i = 0; i < 12; ++i) {
        Transfer t = Transfer::waiting(u"Hàng %1"_s.arg(i));
        t.remoteFile = DriveFile{};
        t.state = State::Working;
        t.total = 1'000'000;
        ids.append(t.id);
        queue.append(t);
    }
    TransferQueueModel &rows = *panel.queueModel();
    TransferQueueView &view = *panel.view();
    // New rows are brought into sight after their insertion: the top is scrolled to after that.
    QTest::qWait(20);
    view.scrollToTop();
    QTest::qWait(20);
    ASSERT_TRUE(view.showsRow(0));
    ASSERT_FALSE(view.showsRow(11));
    QMap<int, int> announced;
    QObject::connect(&rows, &QAbstractItemModel::dataChanged, [&](const QModelIndex &from) {
        if (!from.parent().isValid() && from.column() == 0)
            ++announced[from.row()];
    });
    const auto percent = [&](int row) {
        return rows.data(rows.index(row, Column::ProgressColumn)).toString();
    };

    // Half a second of a report every millisecond to the first and the last row.
    QElapsedTimer running;
    running.start();
    qint64 done = 0;
    while (running.elapsed() < 500) {
        done += 1000;
        for (const int row : {0, 11})
            queue.update(ids[row], [done](Transfer &t) { t.done = done; });
        QTest::qWait(1);
    }
    const double seconds = running.elapsed() / 1000.0;
    QTest::qWait(2 * TransferQueueModel::rowIntervalMs);
    EXPECT_GE(announced.value(0), 2);
    EXPECT_LE(announced.value(0), int(seconds * 1000 / TransferQueueModel::rowIntervalMs) + 2);
    EXPECT_EQ(percent(0), QString::number(done / 10'000) + u'%');
    // Out of sight: nothing announced, the copy left as it was.
    EXPECT_EQ(announced.value(11), 0);
    EXPECT_EQ(percent(11), u"0%");

    // A change of state is announced at once, out of sight too: the row's buttons follow it.
    queue.update(ids[11], [](Transfer &t) { t.state = State::Paused; });
    EXPECT_EQ(announced.value(11), 1);
    EXPECT_EQ(rows.transfer(rows.index(11, 0))->state, State::Paused);

    // Scrolled into sight, the row catches up on the next frame.
    queue.update(ids[10], [](Transfer &t) { t.done = 500'000; });
    view.scrollToBottom();
    ASSERT_TRUE(waitUntil([&] { return percent(10) == u"50%"; }));
    for (const QUuid &id : ids)
        queue.remove(id);
}

TEST_F(QueuePanel, StatusLineAndBadgeFollowTheTransfers)
{
    useModel();
    MainWindow window(model.get());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    WindowStatusBar *status = window.windowStatusBar();
    EXPECT_EQ(status->textLabel()->text(), u"Sẵn sàng");

    Transfer folder = Transfer::waiting(u"Ảnh"_s);
    folder.remoteFile = DriveFile{};
    folder.state = State::Working;
    folder.done = 400;
    folder.total = 1000;
    folder.speed = 1'500'000;
    folder.currentFileIndex = 3;
    folder.totalFilesCount = 12;
    Transfer paused = Transfer::waiting(u"a.pdf"_s);
    paused.source = u"/tmp/a.pdf"_s;
    paused.state = State::Paused;
    Transfer waiting = Transfer::waiting(u"b.pdf"_s);
    waiting.source = u"/tmp/b.pdf"_s;
    waiting.state = State::Working; // added working so the queue does not start it
    transfers->queue().append(folder);
    transfers->queue().append(paused);
    transfers->queue().append(waiting);
    transfers->queue().update(waiting.id, [](Transfer &t) { t.state = State::Waiting; });
    ASSERT_TRUE(waitUntil([&] { return status->textLabel()->text().startsWith(u"Đang tải"_s); }));
    EXPECT_EQ(status->textLabel()->text(), u"Đang tải xuống (40%) · File 3/12 · ↓ 1.5 MB/s");
    EXPECT_EQ(window.sidebar()->queueButton()->badge()->text(), u"2");

    transfers->queue().remove(folder.id);
    ASSERT_TRUE(waitUntil([&] { return status->textLabel()->text() == u"Tác vụ đang tạm dừng"; }));
    transfers->queue().remove(paused.id);
    ASSERT_TRUE(waitUntil([&] { return status->textLabel()->text() == u"Đang truyền file"; }));
    transfers->queue().remove(waiting.id);
    ASSERT_TRUE(waitUntil([&] { return status->textLabel()->text() == u"Sẵn sàng"; }));
    EXPECT_FALSE(window.sidebar()->queueButton()->badge()->isVisible());

    // The window holds the panel only while the queue is shown.
    model->setShowTransfers(true);
    EXPECT_TRUE(window.queuePanel()->isVisible());
    EXPECT_EQ(window.queuePanel()->height(), 240);
}

TEST(QueueTexts, WorkingWithoutSpeedAndTheOtherCellTexts)
{
    Transfer t = Transfer::waiting(u"x.bin"_s);
    t.state = State::Working;
    t.total = 1000;
    t.done = 5;
    EXPECT_EQ(QueueTexts::status(t).text, u"Đang chạy");
    EXPECT_EQ(QueueTexts::speedText(t), u"—");
    EXPECT_EQ(QueueTexts::remainingText(t), u"?");
    t.speed = 99;
    t.done = 10;
    EXPECT_EQ(QueueTexts::status(t).text, u"1%");
    EXPECT_EQ(QueueTexts::remainingText(t), u"còn ~10s");
    t.speed = std::numeric_limits<double>::infinity();
    EXPECT_EQ(QueueTexts::remainingText(t), u"?");
    t.speed = 0;
    t.done = t.total;
    t.state = State::Done;
    EXPECT_EQ(QueueTexts::remainingText(t), u"—");

    EXPECT_EQ(QueueTexts::directionSymbol(t), u"arrow.down.backward");
    EXPECT_EQ(QueueTexts::endSymbol(t, t.displaySource()), u"cloud.fill");
    EXPECT_EQ(QueueTexts::endSymbol(t, t.displayDestination()), u"laptopcomputer");
    EXPECT_TRUE(QueueTexts::currentFileLine(t).isEmpty());
    t.totalFilesCount = 4;
    t.currentFileIndex = 2;
    t.currentFileName = u"b.jpg"_s;
    EXPECT_EQ(QueueTexts::endSymbol(t, t.displaySource()), u"folder.fill");
    EXPECT_EQ(QueueTexts::currentFileLine(t), u"b.jpg (2/4)");

    FileInFlight w{
        .id = 0, .fileIndex = 2, .totalFiles = 4, .fileName = u"b.jpg"_s, .done = 0, .total = 500};
    EXPECT_EQ(QueueTexts::workerNameText(w), u"b.jpg [2/4]");
    EXPECT_EQ(QueueTexts::workerProgressText(w), u"Đang tải…");
    EXPECT_EQ(QueueTexts::workerRemainingText(w), u"—");
    EXPECT_TRUE(QueueTexts::workerSpeedText(w).isEmpty());
    w.done = 250;
    w.speed = 125;
    EXPECT_EQ(QueueTexts::workerProgressText(w), u"50%");
    EXPECT_EQ(QueueTexts::workerRemainingText(w), u"còn ~2s");

    EXPECT_EQ(QueueTexts::durationText(59), u"59s");
    EXPECT_EQ(QueueTexts::durationText(200), u"3p 20s");
    EXPECT_EQ(QueueTexts::durationText(8100), u"2h 15p");

    // Running alone, or running and waiting.
    Transfer waiting = Transfer::waiting(u"y"_s);
    Transfer running = t;
    running.state = State::Working;
    EXPECT_EQ(QueueTexts::headerCounts({running}), u"1 đang chạy");
    EXPECT_EQ(QueueTexts::headerCounts({running, waiting, waiting}), u"1 đang chạy · 2 chờ");
    EXPECT_EQ(QueueTexts::headerCounts({t}), u"");
}

} // namespace

namespace {

// The width the status column needs for a state text: its icon, the gap and both paddings.
int statusColumnNeeds(const QFontMetrics &metrics, const QString &text)
{
    return metrics.horizontalAdvance(text) + 14 + 5 + 12;
}

} // namespace

// A failed transfer says why in its row, a scanning folder says it is preparing instead of
// showing a full bar, and the status line points at the failure instead of "Sẵn sàng".
TEST_F(QueuePanel, AFailedRowSaysWhyAndAScanningFolderShowsNoPercentage)
{
    useModel();
    MainWindow window(model.get());
    window.resize(1320, 840);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    TransferQueuePanel &panel = *window.queuePanel();

    download({refusedFile(u"hỏng.bin"_s)}, localDir.path());
    const QUuid failed = idAt(0);
    ASSERT_TRUE(reaches(failed, State::Failed));
    const QueueTexts::SubLine why = QueueTexts::subLine(at(0));
    EXPECT_FALSE(why.text.isEmpty());
    EXPECT_EQ(why.text, at(0).detail);
    EXPECT_EQ(why.color, QueueTexts::orange());
    ASSERT_TRUE(waitUntil([&] {
        return window.windowStatusBar()->textLabel()->text()
               == u"1 tác vụ bị lỗi · xem lý do trong hàng đợi";
    }));

    // A folder whose listing is slow stays "preparing" until its files are counted.
    const QString folder = driveFolder(u"Chậm"_s, 3, 1000);
    const int slow = emulator.addFault(
        Emulator::FaultRule::delayBy(std::chrono::milliseconds(1500), u"GET"_s, u"^/drive/v3/files$"_s));
    download({driveFile(folder)}, localDir.path());
    const QUuid scanning = idAt(1);
    ASSERT_TRUE(waitUntil([&] { return transfer(scanning)->state == State::Working; }));
    EXPECT_TRUE(transfer(scanning)->preparing());
    EXPECT_EQ(text(row(panel, scanning, Column::ProgressColumn)), u"Đang chuẩn bị…");
    EXPECT_EQ(QueueTexts::activity(transfers->list()).text, u"Đang tải xuống (đang chuẩn bị…)");
    save(window, u"queue-failed-and-preparing.png"_s);
    emulator.removeFault(slow);
    ASSERT_TRUE(reaches(scanning, State::Done));
    EXPECT_FALSE(transfer(scanning)->preparing());
    EXPECT_EQ(text(row(panel, scanning, Column::ProgressColumn)), u"100%");
}

// Google's limits as a person sees them: a download held back by them says so under its source and
// in the status line with the time to its next try, and goes on once they lift; a full Drive
// pauses the upload, which says why, and the window says it once.
TEST_F(QueuePanel, ARowWaitingForGooglesLimitsCountsDownAndAFullDriveSaysWhyItPaused)
{
    useModel();
    MainWindow window(model.get());
    window.resize(1320, 840);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    TransferQueuePanel &panel = *window.queuePanel();
    clock.setHeld(true);

    const QString id = emulator.createFile(account.email, u"ảnh.jpg"_s, bytes(300'000, 4));
    Emulator::FaultRule busy = Emulator::FaultRule::respondError(
        429, u"rateLimitExceeded"_s, u"Rate Limit Exceeded"_s, u"GET"_s,
        u"^/drive/v3/files/"_s + id + u'$');
    busy.query = u"alt=media"_s;
    busy.times = 0;
    busy.headers.append(qMakePair(QByteArray("Retry-After"), QByteArray("8")));
    const int rule = emulator.addFault(busy);
    download({driveFile(id)}, localDir.path());
    const QUuid held = idAt(0);
    // Each refusal waits at least Google's eight seconds, longer as the backoff grows.
    const QRegularExpression says(u"^Google đang giới hạn tốc độ, thử lại sau (8|16|32|33) giây$"_s);
    ASSERT_TRUE(waitUntil([&] {
        return says.match(text(row(panel, held, Column::SourceColumn), Qt::AccessibleDescriptionRole))
            .hasMatch();
    }));
    ASSERT_TRUE(waitUntil(
        [&] { return says.match(window.windowStatusBar()->textLabel()->text()).hasMatch(); }));
    save(window, u"queue-waiting-for-limits.png"_s);
    emulator.removeFault(rule);
    clock.setHeld(false);
    ASSERT_TRUE(reaches(held, State::Done));
    EXPECT_TRUE(text(row(panel, held, Column::SourceColumn), Qt::AccessibleDescriptionRole).isEmpty());
    // The status line follows at a reader's pace.
    EXPECT_TRUE(waitUntil(
        [&] { return !says.match(window.windowStatusBar()->textLabel()->text()).hasMatch(); }));

    emulator.setQuota(account.email, emulator.usage(account.email) + 1000);
    const QString big = writeFile(local(u"báo cáo.pdf"_s), bytes(50'000, 5));
    upload({big});
    const QUuid paused = idAt(1);
    ASSERT_TRUE(reaches(paused, State::Paused));
    EXPECT_EQ(text(row(panel, paused, Column::SourceColumn), Qt::AccessibleDescriptionRole),
              u"Google Drive đã hết dung lượng lưu trữ."_s);
    EXPECT_EQ(hints(panel, paused), (QStringList{u"Tiếp tục"_s, u"Hủy tác vụ"_s}));
    ASSERT_TRUE(waitUntil([&] {
        return window.windowStatusBar()->textLabel()->text()
               == u"Google Drive đã hết dung lượng lưu trữ."_s;
    }));
    save(window, u"queue-drive-full.png"_s);
    ASSERT_TRUE(waitUntil([&] { return !desktop.alerts.isEmpty(); }));
    EXPECT_EQ(desktop.alerts.size(), 1);
    EXPECT_TRUE(desktop.alerts.last().message.startsWith(
        u"Google Drive đã hết dung lượng lưu trữ. Các tác vụ tải lên đã tạm dừng"_s))
        << desktop.alerts.last().message.toStdString();
}

// At the window's smallest size every column is in sight and no state text is cut; a new
// transfer below the visible rows is scrolled into view; the handle never stores more height
// than the window has room for.
TEST_F(QueuePanel, AtTheSmallestWindowEveryColumnShowsAndNewRowsComeIntoView)
{
    useModel();
    MainWindow window(model.get());
    window.resize(window.minimumSize());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    model->setShowTransfers(true);
    TransferQueuePanel &panel = *window.queuePanel();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    TransferQueueView *view = panel.view();
    ASSERT_TRUE(waitUntil([&] {
        return view->header()->sectionPosition(Column::ButtonsColumn)
                   + view->header()->sectionSize(Column::ButtonsColumn)
               <= view->viewport()->width();
    })) << "the last column ends beyond the view";
    EXPECT_FALSE(view->horizontalScrollBar()->isVisible());
    for (const QString &state : {u"Tạm dừng"_s, u"Đang chạy"_s, u"Hoàn tất"_s})
        EXPECT_GE(view->header()->sectionSize(Column::StatusColumn),
                  statusColumnNeeds(view->fontMetrics(), state))
            << state.toStdString();

    for (int i = 0; i < 8; ++i)
        download({slowFile(u"f%1.bin"_s.arg(i))}, localDir.path());
    const QModelIndex last = row(panel, idAt(7));
    const auto lastInSight = [&] {
        const QRect rect = view->visualRect(last);
        return rect.isValid() && view->viewport()->rect().intersected(rect).height() >= rect.height() - 2;
    };
    ASSERT_TRUE(waitUntil(lastInSight));
    // The file rows of the running ones appear above it later: it stays in sight.
    ASSERT_TRUE(waitUntil([&] {
        int files = 0;
        for (int r = 0; r < view->model()->rowCount(); ++r)
            files += view->model()->rowCount(view->model()->index(r, 0));
        return files >= 6;
    }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(lastInSight());
    save(window, u"queue-smallest-window.png"_s);

    // Dragging far up stops where the window has room, and dragging down answers at once.
    drag(panel, -2000);
    const int top = panel.height();
    EXPECT_LE(top, panel.room());
    EXPECT_LT(top, int(TransferQueuePanel::maximumHeight));
    EXPECT_EQ(QSettings().value(TransferQueuePanel::heightKey).toDouble(), top);
    drag(panel, 40);
    EXPECT_EQ(panel.height(), top - 40);
}
