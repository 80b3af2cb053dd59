#pragma once

#include <QDialog>

namespace Tarnwick {

// Stands in for the connection screen until sign-in exists: a sheet that says where connecting
// will happen and closes again.
class ConnectionPlaceholder final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ConnectionPlaceholder)

public:
    explicit ConnectionPlaceholder(QWidget *parent);
};

} // namespace Tarnwick
