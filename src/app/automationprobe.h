#pragma once

#include <QJsonObject>
#include <QObject>
#include <QPointer>

#include <functional>

class QLocalServer;
class QLocalSocket;

namespace Tarnwick {

class AppModel;

// A test's view into the running window, for journeys driven by real input events: it answers
// one JSON request per line on a local socket with what the windows show (visible widgets, their
// texts and places on the screen, the rows of item views, the actions and their state), triggers
// an action, saves a picture of the screen, and tells the model's transfers and the demo Drive's
// files. Only ever created with the automation switch on.
class AutomationProbe final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AutomationProbe)

public:
    // Extra requests the caller answers (the demo Drive's): the request, its answer or an empty
    // object when it is not one of them.
    using Extension = std::function<QJsonObject(const QJsonObject &request)>;

    AutomationProbe(AppModel *model, Extension extension, QObject *parent = nullptr);
    ~AutomationProbe() override;

    // Listens at the path in TARNWICK_AUTOMATION_SOCKET; false when none is set or it fails.
    bool listen();

private:
    void serve(QLocalSocket *socket);
    QJsonObject answer(const QJsonObject &request);

    QPointer<AppModel> m_model;
    Extension m_extension;
    QLocalServer *m_server;
};

} // namespace Tarnwick
