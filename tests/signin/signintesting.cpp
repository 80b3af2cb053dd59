#include "signintesting.h"

#include "support/testsupport.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QTcpServer>
#include <QUrl>
#include <QUuid>

namespace Tarnwick::Testing {

KeychainStore freshStore()
{
    return KeychainStore(QStringLiteral("com.tarnwick.test.") +
                         QUuid::createUuid().toString(QUuid::Id128));
}

RawClient::RawClient(quint16 port)
{
    m_socket.connectToHost(QHostAddress::LocalHost, port);
    waitUntil([this] {
        return m_socket.state() == QAbstractSocket::ConnectedState ||
               m_socket.state() == QAbstractSocket::UnconnectedState;
    });
}

bool RawClient::refused() const
{
    return m_socket.state() == QAbstractSocket::UnconnectedState &&
           m_socket.error() == QAbstractSocket::ConnectionRefusedError;
}

void RawClient::send(const QByteArray &bytes)
{
    m_socket.write(bytes);
    m_socket.flush();
}

bool RawClient::waitClosed(std::chrono::milliseconds timeout)
{
    return waitUntil(
        [this] {
            m_received += m_socket.readAll();
            return m_socket.state() == QAbstractSocket::UnconnectedState;
        },
        timeout);
}

bool RawClient::staysOpen(std::chrono::milliseconds grace)
{
    return !waitClosed(grace);
}

QByteArray RawClient::received()
{
    m_received += m_socket.readAll();
    return m_received;
}

quint16 portOf(const QString &url)
{
    return quint16(QUrl(url).port());
}

FakeTokenEndpoint::FakeTokenEndpoint()
    : m_server(std::make_unique<QTcpServer>())
{
    m_server->listen(QHostAddress::LocalHost, 0);
    QObject::connect(m_server.get(), &QTcpServer::newConnection, m_server.get(), [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection())
            serve(socket);
    });
}

FakeTokenEndpoint::~FakeTokenEndpoint() = default;

QUrl FakeTokenEndpoint::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/token").arg(m_server->serverPort()));
}

void FakeTokenEndpoint::answer(int status, QByteArray body)
{
    m_status = status;
    m_body = std::move(body);
}

void FakeTokenEndpoint::serve(QTcpSocket *socket)
{
    auto buffer = std::make_shared<QByteArray>();
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
        *buffer += socket->readAll();
        const qsizetype headEnd = buffer->indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        qsizetype length = 0;
        for (const QByteArray &line : buffer->left(headEnd).split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        }
        if (buffer->size() < headEnd + 4 + length)
            return;
        m_bodies.append(buffer->mid(headEnd + 4, length));
        socket->write("HTTP/1.1 " + QByteArray::number(m_status) +
                      " X\r\nContent-Type: application/json\r\nConnection: close\r\n"
                      "Content-Length: " +
                      QByteArray::number(m_body.size()) + "\r\n\r\n" + m_body);
        socket->disconnectFromHost();
    });
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

} // namespace Tarnwick::Testing

namespace Tarnwick::Testing::Keyring {

namespace {

const QString service = QStringLiteral("org.freedesktop.secrets");
const QString servicePath = QStringLiteral("/org/freedesktop/secrets");
const QString defaultAlias = QStringLiteral("/org/freedesktop/secrets/aliases/default");

// The (oayays) secret of the Secret Service API, here in a "plain" session.
struct Secret
{
    QDBusObjectPath session;
    QByteArray parameters;
    QByteArray value;
    QString contentType;
};

QDBusArgument &operator<<(QDBusArgument &argument, const Secret &secret)
{
    argument.beginStructure();
    argument << secret.session << secret.parameters << secret.value << secret.contentType;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, Secret &secret)
{
    argument.beginStructure();
    argument >> secret.session >> secret.parameters >> secret.value >> secret.contentType;
    argument.endStructure();
    return argument;
}

QDBusMessage call(const QString &path, const QString &interface, const QString &method,
                  const QVariantList &arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, 5000);
}

} // namespace

bool lock()
{
    const QDBusMessage reply =
        call(servicePath, QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("Lock"),
             {QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(defaultAlias)})});
    return reply.type() == QDBusMessage::ReplyMessage && locked();
}

bool unlock()
{
    qDBusRegisterMetaType<Secret>();
    const QDBusMessage alias = call(servicePath, QStringLiteral("org.freedesktop.Secret.Service"),
                                    QStringLiteral("ReadAlias"), {QStringLiteral("default")});
    const QDBusMessage session =
        call(servicePath, QStringLiteral("org.freedesktop.Secret.Service"),
             QStringLiteral("OpenSession"),
             {QStringLiteral("plain"), QVariant::fromValue(QDBusVariant(QString()))});
    if (alias.type() != QDBusMessage::ReplyMessage || session.type() != QDBusMessage::ReplyMessage)
        return false;
    const Secret master{session.arguments().at(1).value<QDBusObjectPath>(),
                        {},
                        QByteArrayLiteral("tarnwick-test"),
                        QStringLiteral("text/plain")};
    const QDBusMessage reply = call(
        servicePath, QStringLiteral("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface"),
        QStringLiteral("UnlockWithMasterPassword"),
        {QVariant::fromValue(alias.arguments().at(0).value<QDBusObjectPath>()),
         QVariant::fromValue(master)});
    return reply.type() == QDBusMessage::ReplyMessage && !locked();
}

bool locked()
{
    const QDBusMessage reply =
        call(defaultAlias, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
             {QStringLiteral("org.freedesktop.Secret.Collection"), QStringLiteral("Locked")});
    return reply.type() == QDBusMessage::ReplyMessage &&
           reply.arguments().at(0).value<QDBusVariant>().variant().toBool();
}

} // namespace Tarnwick::Testing::Keyring
