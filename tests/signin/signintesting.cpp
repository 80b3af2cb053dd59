#include "signintesting.h"

#include "support/testsupport.h"

#include <QUrl>

namespace Tarnwick::Testing {

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

} // namespace Tarnwick::Testing
