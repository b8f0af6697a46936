#include "socketlistener.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

// Failures of one waiting connection, not of the listening socket: the next may succeed.
bool onlyThatConnectionFailed(int error)
{
    switch (error) {
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
    case EPERM:
        return true;
    default:
        return false;
    }
}

} // namespace

SocketListener::SocketListener(QObject *parent) : QObject(parent)
{
    m_retry.setSingleShot(true);
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        if (m_notifier)
            m_notifier->setEnabled(true);
    });
}

SocketListener::~SocketListener()
{
    close();
}

bool SocketListener::fail(const char *call)
{
    m_error = errno;
    m_failedCall = call;
    if (m_descriptor >= 0)
        ::close(m_descriptor);
    m_descriptor = -1;
    return false;
}

bool SocketListener::listen(quint32 address, quint16 port, int backlog)
{
    close();
    m_descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_descriptor < 0)
        return fail("socket");
    // Lets a restarted simulator listen again while old connections linger in TIME_WAIT; it
    // does not let two servers listen on one port.
    const int one = 1;
    ::setsockopt(m_descriptor, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_addr.s_addr = htonl(address);
    socketAddress.sin_port = htons(port);
    if (::bind(m_descriptor, reinterpret_cast<sockaddr *>(&socketAddress), sizeof socketAddress) !=
        0)
        return fail("bind");
    if (::listen(m_descriptor, backlog) != 0)
        return fail("listen");
    m_error = 0;
    m_failedCall = "";
    m_failing = false;
    m_notifier = std::make_unique<QSocketNotifier>(m_descriptor, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &SocketListener::acceptWaiting);
    return true;
}

void SocketListener::close()
{
    m_retry.stop();
    m_notifier.reset();
    if (m_descriptor >= 0)
        ::close(m_descriptor);
    m_descriptor = -1;
}

quint16 SocketListener::port() const
{
    if (m_descriptor < 0)
        return 0;
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(m_descriptor, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

void SocketListener::acceptWaiting()
{
    if (!m_notifier || !m_notifier->isEnabled())
        return;
    // Every waiting connection, one after the other, until none is left.
    while (m_descriptor >= 0) {
        const int descriptor =
            ::accept4(m_descriptor, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor >= 0) {
            m_failing = false;
            emit accepted(descriptor);
            continue;
        }
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK)
            return;
        if (onlyThatConnectionFailed(error))
            continue;
        // The listening socket stays readable while the host waits: pause instead of spinning.
        if (m_notifier)
            m_notifier->setEnabled(false);
        m_retry.start();
        if (!m_failing) {
            m_failing = true;
            emit acceptFailed(error);
        }
        return;
    }
}
