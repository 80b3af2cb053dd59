#include "net/tarnwicknetwork.h"
#include "common/icons.h"
#include "common/palette.h"
#include "common/qtvietnamese.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    // Each test process keeps its saved queue and trash of its own: tests run side by side.
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tarnwick"));
    QCoreApplication::setApplicationName(QStringLiteral("Tarnwick"));
    // Styled and with icons as the program is, so the screenshots show what a user sees.
    Tarnwick::Icons::prepareTheme();
    Tarnwick::Palette::apply(app);
    Tarnwick::QtVietnameseTranslator::install(app);
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    Tarnwick::TarnwickNetwork::finishPendingWork();
    return status;
}
