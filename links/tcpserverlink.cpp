#include "tcpserverlink.h"

#include "codepage.h"
#include "machine.h"
#include "vorlakerror.h"

#include <QTcpSocket>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

[[noreturn]] void throwSocketError(int error, const char *api)
{
    throw VorlakError(QStringLiteral("Windows-Socket-Fehler: %1 (%2), bei API '%3'")
                          .arg(QString::fromLocal8Bit(std::strerror(error)))
                          .arg(error)
                          .arg(QLatin1String(api)));
}

} // namespace

TcpServerLink::TcpServerLink(Machine &machine, QObject *parent)
    : QObject(parent), m_machine(machine)
{
    connect(&m_server, &QTcpServer::newConnection, this, &TcpServerLink::acceptPending);
    // A failed accept (no descriptor left, say) is the one socket error that is shown; nothing
    // is accepted for it. The server goes on accepting after a pause (QTcpServer stops at the
    // first failure), and a failure that repeats is shown again only after a connection was
    // accepted. The error is raised from the event loop: the socket layer's own frames must
    // not be unwound (Qt's network library is built without exception support).
    connect(&m_server, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError error) {
        QTimer::singleShot(kAcceptRetryMs, this, [this] {
            if (m_active && m_server.isListening())
                m_server.resumeAccepting();
        });
        if (m_acceptFailureShown)
            return;
        m_acceptFailureShown = true;
        QTimer::singleShot(0, this, [error] {
            throw VorlakError(QStringLiteral("Asynchroner Socket-Fehler %1").arg(int(error)));
        });
    });
    m_machine.addLink(this);
}

TcpServerLink::~TcpServerLink()
{
    m_machine.removeLink(this);
    Close();
}

void TcpServerLink::setPort(int port)
{
    if (!m_active)
        m_port = port;
}

void TcpServerLink::Open()
{
    if (m_active)
        return;
    // The socket is made by hand so that a failure names its call ("bind", "listen") and the
    // system's error number, and so the queue of pending connections is exactly 5.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        throwSocketError(errno, "socket");
    // Lets a restarted simulator listen again while old connections linger in TIME_WAIT; it
    // does not let two servers listen on one port.
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(m_port & 0xFFFF));
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        throwSocketError(error, "bind");
    }
    if (::listen(fd, 5) != 0) {
        const int error = errno;
        ::close(fd);
        throwSocketError(error, "listen");
    }
    if (!m_server.setSocketDescriptor(fd)) {
        ::close(fd);
        throw VorlakError(m_server.errorString());
    }
    m_active = true;
}

void TcpServerLink::Close()
{
    const QList<QTcpSocket *> connections = m_connections;
    m_connections.clear();
    for (QTcpSocket *socket : connections) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    m_server.close();
    m_active = false;
}

void TcpServerLink::dropConnections()
{
    const QList<QTcpSocket *> connections = m_connections;
    for (QTcpSocket *socket : connections)
        ServerSocketClientDisconnect(socket);
}

void TcpServerLink::acceptPending()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        m_acceptFailureShown = false;
        m_connections.append(socket);
        connect(socket, &QTcpSocket::readyRead, this,
                [this, socket] { ServerSocketClientRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this,
                [this, socket] { ServerSocketClientDisconnect(socket); });
        connect(socket, &QTcpSocket::errorOccurred, this,
                [this, socket] { ServerSocketClientError(socket); });
        ServerSocketClientConnect(socket);
    }
}

void TcpServerLink::ServerSocketClientConnect(QTcpSocket *)
{
    m_machine.panel().setStatusPanelText(0, QStringLiteral("Host connected"));
    emit clientConnected();
}

void TcpServerLink::ServerSocketClientDisconnect(QTcpSocket *socket)
{
    if (!m_connections.contains(socket))
        return;
    m_machine.panel().setStatusPanelText(0, QStringLiteral("Waiting"));
    release(socket);
    emit clientDisconnected();
}

// A connection error (a reset by the host, a failed read or write) is never shown; it ends
// the connection like an orderly close, so the next reply goes to the next host instead of
// being lost on a dead connection.
void TcpServerLink::ServerSocketClientError(QTcpSocket *socket)
{
    ServerSocketClientDisconnect(socket);
}

void TcpServerLink::release(QTcpSocket *socket)
{
    m_connections.removeOne(socket);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void TcpServerLink::ServerSocketClientRead(QTcpSocket *socket)
{
    const QString text = CodePage::toText(socket->readAll());
    // The chunk is in the buffer before logging can run a nested read step, so bytes reach
    // the buffer in the order they arrived.
    m_machine.ReceiveBuffer().append(text);
    m_machine.panel().logTraffic(0, text);
    // Dispatch outside this slot: a dispatch can run a whole job, and the socket does not
    // announce more data while its readyRead slot is still running.
    QMetaObject::invokeMethod(&m_machine, &Machine::DispatchReceived, Qt::QueuedConnection);
}

void TcpServerLink::sendReply(const QString &text)
{
    if (!m_active || m_connections.isEmpty())
        return;
    QTcpSocket *socket = m_connections.first();
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    if (socket->bytesToWrite() > kMaxUnsentBytes)
        return;
    socket->write(CodePage::toBytes(text));
    socket->flush();
}
