#pragma once

#include <QMainWindow>

namespace Tarnwick {

class AppModel;

class MainWindow final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    explicit MainWindow(AppModel *model, QWidget *parent = nullptr);

private:
    AppModel *m_model; // Not owned.
};

} // namespace Tarnwick
