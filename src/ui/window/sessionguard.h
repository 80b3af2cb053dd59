#pragma once

#include <QObject>
#include <QPointer>

class QSocketNotifier;

namespace Tarnwick {

class Transfers;

// Saves the transfer queue however the process ends short of a crash: a normal quit, SIGTERM or
// SIGINT (turned into a normal quit through a self-pipe, since nothing else is safe inside a
// signal handler), and the session manager's logout.
class SessionGuard final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SessionGuard)

public:
    explicit SessionGuard(Transfers *transfers, QObject *parent = nullptr);
    ~SessionGuard() override;

private:
    void save();

    QPointer<Transfers> m_transfers;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace Tarnwick
