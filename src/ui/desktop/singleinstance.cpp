#include "desktop/singleinstance.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {
constexpr int answerWait = 1000; // ms; a local socket answers at once or not at all
constexpr qint64 requestLimit = 64 * 1024;
} // namespace

SingleInstance::SingleInstance(const QString &key, QObject *parent)
    : QObject(parent)
{
    const QByteArray digest = QCryptographicHash::hash(
        (key + u'|' + QString::number(::getuid())).toUtf8(), QCryptographicHash::Sha256);
    m_name = u"tarnwick-"_s + QString::fromLatin1(digest.toHex().left(24));
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::claimOrForward(const QStringList &request)
{
    {
        QLocalSocket socket;
        socket.connectToServer(m_name);
        if (socket.waitForConnected(answerWait)) {
            QByteArray line = QJsonDocument(QJsonArray::fromStringList(request))
                                  .toJson(QJsonDocument::Compact);
            line.append('\n');
            socket.write(line);
            socket.waitForBytesWritten(answerWait);
            socket.disconnectFromServer();
            return false;
        }
    }
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Nobody answered: a socket left by a process that died is in the way.
    QLocalServer::removeServer(m_name);
    if (!m_server->listen(m_name))
        return true; // run on our own rather than not at all
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
    return true;
}

void SingleInstance::accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->bytesAvailable() > requestLimit) {
                socket->abort();
                return;
            }
            if (!socket->canReadLine())
                return;
            const QJsonDocument document = QJsonDocument::fromJson(socket->readLine());
            socket->disconnectFromServer();
            if (!document.isArray())
                return;
            const QJsonArray array = document.array();
            QStringList request;
            for (const QJsonValue &value : array)
                request.append(value.toString());
            emit requested(request);
        });
    }
}

} // namespace Tarnwick
