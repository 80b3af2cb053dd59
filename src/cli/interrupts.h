#pragma once

#include <QObject>
#include <QSocketNotifier>

namespace Tarnwick::Cli {

// Ctrl+C (SIGINT) and SIGTERM as a signal on the main thread: the handler only writes a byte to
// a pipe, which the event loop reads. One object per process.
class Interrupts final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Interrupts)

public:
    explicit Interrupts(QObject *parent = nullptr);
    ~Interrupts() override;

signals:
    // count is 1 for the first interrupt, 2 for the second…
    void interrupted(int count);

private:
    QSocketNotifier *m_notifier = nullptr;
    int m_count = 0;
};

} // namespace Tarnwick::Cli
