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
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

QString socketErrorText(int error, const char *api)
{
    return QStringLiteral("Windows-Socket-Fehler: %1 (%2), bei API '%3'")
        .arg(QString::fromLocal8Bit(std::strerror(error)))
        .arg(error)
        .arg(QLatin1String(api));
}

} // namespace

TcpServerLink::TcpServerLink(Machine &machine, QObject *parent)
    : QObject(parent), m_machine(machine)
{
    connect(&m_listener, &SocketListener::accepted, this, &TcpServerLink::acceptConnection);
    // A failed accept (no descriptor left, say) is the one socket error that is reported; the
    // listener pauses, tries again and announces a run of failures once.
    connect(&m_listener, &SocketListener::acceptFailed, this, [this](int error) {
        emit acceptFailed(QStringLiteral("Asynchroner Socket-Fehler %1").arg(error));
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
    // A failure names its call ("bind", "listen") and the system's error number; the queue of
    // pending connections is exactly 5.
    if (!m_listener.listen(INADDR_ANY, static_cast<quint16>(m_port & 0xFFFF), 5)) {
        m_openError = socketErrorText(m_listener.error(), m_listener.failedCall());
        throw VorlakError(m_openError);
    }
    m_openError.clear();
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
    m_releasedBytes.clear();
    m_connectionNumbers.clear();
    m_releasedNumbers.clear();
    m_listener.close();
    m_active = false;
}

void TcpServerLink::dropConnections()
{
    const QList<QTcpSocket *> connections = m_connections;
    for (QTcpSocket *socket : connections)
        ServerSocketClientDisconnect(socket);
}

void TcpServerLink::acceptConnection(int descriptor)
{
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(descriptor);
        delete socket;
        return;
    }
    // Unread bytes beyond this stay in the kernel, which holds the host back, instead of
    // piling up here while a job runs.
    socket->setReadBufferSize(kReadBufferBytes);
    m_connections.append(socket);
    m_connectionNumbers.insert(socket, ++m_connectionsAccepted);
    connect(socket, &QTcpSocket::readyRead, this,
            [this, socket] { ServerSocketClientRead(socket); });
    connect(socket, &QTcpSocket::disconnected, this,
            [this, socket] { ServerSocketClientDisconnect(socket); });
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this, socket] { ServerSocketClientError(socket); });
    ServerSocketClientConnect(socket);
}

void TcpServerLink::ServerSocketClientConnect(QTcpSocket *)
{
    m_machine.setLinkState(Machine::LinkState::HostConnected);
    emit clientConnected();
}

void TcpServerLink::ServerSocketClientDisconnect(QTcpSocket *socket)
{
    if (!m_connections.contains(socket))
        return;
    m_machine.setLinkState(Machine::LinkState::Waiting);
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
    // What the host sent before it left still reaches the machine.
    const int number = m_connectionNumbers.take(socket);
    if (m_readStepQueued.contains(socket)) {
        m_releasedBytes[socket] += socket->readAll();
        m_releasedNumbers.insert(socket, number);
    }
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void TcpServerLink::ServerSocketClientRead(QTcpSocket *socket)
{
    // Nothing that processes events runs in this slot: the socket announces no more data while
    // it runs, so bytes arriving meanwhile would wait for the next bytes. The read step runs
    // queued instead, once per notice still pending (a dispatch can run a whole job); each
    // step's chunk is then appended and dispatched on its own, so the chunks of two connections
    // read in one round never share a dispatch.
    if (m_readStepQueued.contains(socket))
        return;
    m_readStepQueued.insert(socket);
    QMetaObject::invokeMethod(
        this, [this, socket] { readStep(socket); }, Qt::QueuedConnection);
}

void TcpServerLink::readStep(QTcpSocket *socket)
{
    m_readStepQueued.remove(socket);
    // Bytes of a connection released since its notice were kept for this step.
    QByteArray bytes = m_releasedBytes.take(socket);
    int number = m_releasedNumbers.take(socket);
    if (m_connections.contains(socket)) {
        number = m_connectionNumbers.value(socket);
        do {
            bytes += socket->readAll();
        } while (socket->bytesAvailable() > 0);
    }
    m_machine.receive(CodePage::toText(bytes), HostLinkId::tcp(number));
}

// A reset or failed connection whose notice has not been handled yet still looks connected to
// Qt, and a buffered write to it looks successful: the kernel is asked directly.
bool TcpServerLink::isAlive(QTcpSocket *socket)
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return false;
    pollfd p{static_cast<int>(socket->socketDescriptor()), 0, 0};
    if (p.fd < 0)
        return false;
    return ::poll(&p, 1, 0) == 0 || !(p.revents & (POLLERR | POLLHUP | POLLNVAL));
}

void TcpServerLink::sendReply(const QString &text)
{
    if (!m_active)
        return;
    // The reply goes to the oldest connection alive now; a dead one leaves the list as a
    // disconnect does, and the next one gets the reply.
    const QByteArray bytes = CodePage::toBytes(text);
    while (!m_connections.isEmpty()) {
        QTcpSocket *socket = m_connections.first();
        if (!isAlive(socket)) {
            ServerSocketClientDisconnect(socket);
            continue;
        }
        if (socket->bytesToWrite() > kMaxUnsentBytes)
            return;
        if (socket->write(bytes) == bytes.size()) {
            // A write that fails in the kernel closes the connection through its error notice.
            socket->flush();
            if (m_connections.contains(socket) && isAlive(socket))
                return;
        }
        ServerSocketClientDisconnect(socket);
    }
}
