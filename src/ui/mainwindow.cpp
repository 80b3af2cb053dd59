#include "mainwindow.h"

namespace Tarnwick {

MainWindow::MainWindow(AppModel *model, QWidget *parent) : QMainWindow(parent), m_model(model)
{
    setWindowTitle(QStringLiteral("Tarnwick"));
    setMinimumSize(1080, 700);
    resize(1320, 840);
}

} // namespace Tarnwick
