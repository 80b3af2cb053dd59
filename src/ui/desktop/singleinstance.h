#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;

namespace Tarnwick {

// One running window per settings and keychain item: the first process listens on a local socket
// named after key (and the user), a later one hands its request over and quits.
class SingleInstance final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SingleInstance)

public:
    explicit SingleInstance(const QString &key, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the first and now listens; false when a running one took
    // request. Waits at most a second for a running one to answer.
    bool claimOrForward(const QStringList &request);
    QString socketName() const { return m_name; }

signals:
    // A later start asked this process for request (its arguments).
    void requested(const QStringList &request);

private:
    void accept();

    QString m_name;
    QLocalServer *m_server = nullptr;
};

} // namespace Tarnwick
