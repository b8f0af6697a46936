#include "ptypair.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    char name[128];
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    m_path = QString::fromLocal8Bit(name);
    // The master in raw mode too, so bytes pass unchanged both ways.
    termios t;
    ::tcgetattr(m_master, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(m_master, TCSANOW, &t);
}

PtyPair::~PtyPair()
{
    if (m_slave >= 0)
        ::close(m_slave);
    closeMaster();
}

void PtyPair::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

void PtyPair::send(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += n;
    }
}

QByteArray PtyPair::receive(int count, int timeoutMs)
{
    QByteArray out;
    while (out.size() < count) {
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            break;
        char buf[4096];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, n);
    }
    return out;
}

double processCpuMs()
{
    rusage u;
    ::getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}
