#pragma once

#include <QObject>

namespace Tarnwick {

// The one observable application object behind the window; every user action is a call on it.
class AppModel final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppModel)

public:
    explicit AppModel(QObject *parent = nullptr);
    ~AppModel() override;
};

} // namespace Tarnwick
