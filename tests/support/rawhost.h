#pragma once

// Plain blocking host sockets for tests whose hosts misbehave (reset connections, huge writes,
// threads of their own), and the event serving the simulator needs meanwhile.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <QByteArray>

#include <arpa/inet.h>
#include <cerrno>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace RawHost
{

// A blocking client socket on the loopback; -1 when the connection fails.
inline int connectRaw(quint16 port, int receiveBuffer = 0)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline bool sendRaw(int fd, const QByteArray &bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

// Reads exactly `count` bytes, or gives what came before `timeoutMs` passed without data.
inline QByteArray readRaw(int fd, qsizetype count, int timeoutMs = 10000)
{
    QByteArray out;
    char buffer[4096];
    while (out.size() < count) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            break;
        const ssize_t n =
            ::recv(fd, buffer, std::min<size_t>(sizeof buffer, size_t(count - out.size())), 0);
        if (n <= 0)
            break;
        out.append(buffer, n);
    }
    return out;
}

// Closes with RST instead of FIN: the host's side of a connection that was torn down.
inline void resetRaw(int fd)
{
    const linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
}

// Serves this thread's events (the simulator's) until `done` holds; false after `timeoutMs`.
inline bool serveUntil(const std::function<bool()> &done, int timeoutMs = 10000)
{
    QElapsedTimer clock;
    clock.start();
    QTimer wakeUp;
    wakeUp.start(50);
    while (!done()) {
        if (clock.hasExpired(timeoutMs))
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// A thread that is joined however the test ends; `stop` runs first, to make it return.
class Worker
{
public:
    Worker(std::function<void()> body, std::function<void()> stop = {})
        : m_stop(std::move(stop)), m_thread(std::move(body))
    {
    }
    ~Worker()
    {
        if (!m_thread.joinable())
            return;
        if (m_stop)
            m_stop();
        m_thread.join();
    }
    void join() { m_thread.join(); }

private:
    std::function<void()> m_stop;
    std::thread m_thread;
};

} // namespace RawHost
