#include "model/appmodel.h"
#include "ui/mainwindow.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tarnwick"));
    QCoreApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));
    Tarnwick::AppModel model;
    Tarnwick::MainWindow window(&model);
    window.show();
    return app.exec();
}
