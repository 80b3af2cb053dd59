// tarnwick-bench-local: the local pane listing a big folder in the real window, for
// bench/local-listing.
//
//   tarnwick-bench-local FOLDER ROUNDS   opens the window (offscreen), then ROUNDS times lists
//                                        FOLDER from a folder of its own and waits until the
//                                        pane shows every entry; one line per round:
//                                        "RESULT listed_ms=… entries=…". With
//                                        TARNWICK_BENCH_SCREENSHOT=FILE.png the window is saved
//                                        there at the end.
#include "appmodel.h"
#include "browse/localbrowser.h"
#include "async/async.h"
#include "common/icons.h"
#include "common/palette.h"
#include "desktop/qtdesktop.h"
#include "panes/localpane.h"
#include "tables/localfiletablemodel.h"
#include "window/mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace Tarnwick;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(u"Tarnwick"_s);
    QCoreApplication::setApplicationName(u"Tarnwick Bench"_s);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: tarnwick-bench-local FOLDER ROUNDS\n");
        return 2;
    }
    const QString folder = QDir(args.at(1)).absolutePath();
    const int rounds = args.at(2).toInt();
    const int expected = int(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
    Icons::prepareTheme();
    Palette::apply(app);
    QTemporaryDir elsewhere;
    QtDesktop desktop;
    AppModel model(&desktop);
    MainWindow window(&model);
    window.show();
    LocalPane *pane = window.localPane();
    // Waits for the next event, as the window's own loop does. (processEvents with a time limit
    // does not wait: spinning, it took a core from the listing it measured.) The timer only
    // bounds a wait that no event would end.
    QTimer tick;
    tick.start(50);
    const auto waitForEvents = [] {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    };
    for (int round = 0; round < rounds; ++round) {
        bool done = false;
        detach(model.local().navigateLocal(elsewhere.path()), {});
        while (!(pane->rowsCurrent() && model.local().localURL() == elsewhere.path()))
            waitForEvents();
        QElapsedTimer timer;
        timer.start();
        detach(model.local().navigateLocal(folder), {});
        while (!done) {
            waitForEvents();
            done = model.local().localURL() == folder && pane->rowsCurrent()
                   && pane->tableModel()->rowCount() == expected;
        }
        std::printf("RESULT listed_ms=%lld entries=%d\n", timer.elapsed(), expected);
        std::fflush(stdout);
    }
    if (const QString shot = qEnvironmentVariable("TARNWICK_BENCH_SCREENSHOT"); !shot.isEmpty()) {
        // The layout the last texts asked for comes with the next events.
        QCoreApplication::processEvents();
        window.grab().save(shot);
    }
    return 0;
}
