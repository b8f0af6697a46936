#include "virtualserialline.h"

#include <QByteArray>
#include <QFile>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace
{

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

// Raw bytes at 9600 baud, 8 data bits, no parity, 1 stop bit, no flow control, no echo.
bool makeRaw(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

QByteArray readLink(const QByteArray &path)
{
    std::array<char, 4096> target{};
    const ssize_t n = ::readlink(path.constData(), target.data(), target.size() - 1);
    return n < 0 ? QByteArray() : QByteArray(target.data(), n);
}

// A link an earlier run left: it points to a pseudo-terminal that is gone.
bool isStaleLineLink(const QByteArray &path)
{
    const QByteArray target = readLink(path);
    if (!target.startsWith("/dev/pts/"))
        return false;
    struct stat st {
    };
    return ::stat(target.constData(), &st) != 0 && errno == ENOENT;
}

// Nothing but an earlier run's link is ever replaced; a file, a folder or someone else's link
// stays as it is.
bool placeLink(const QByteArray &path, const QByteArray &target, QString *problem)
{
    struct stat st {
    };
    if (::lstat(path.constData(), &st) == 0) {
        if (!S_ISLNK(st.st_mode) || !isStaleLineLink(path)) {
            *problem = QStringLiteral("%1 exists and is not a link this program left; it is not "
                                      "replaced (remove it, or name another path)")
                           .arg(QFile::decodeName(path));
            return false;
        }
        if (::unlink(path.constData()) != 0 && errno != ENOENT) {
            *problem = systemError("cannot remove the old link");
            return false;
        }
    } else if (errno != ENOENT) {
        *problem = QStringLiteral("%1: %2").arg(QFile::decodeName(path),
                                                QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // Fails with EEXIST when something took the name meanwhile: that is not replaced either.
    if (::symlink(target.constData(), path.constData()) != 0) {
        *problem = QStringLiteral("cannot create the link %1: %2")
                       .arg(QFile::decodeName(path), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

// Writes what it can without blocking; false when the descriptor failed.
bool writeSome(int fd, std::vector<char> &pending)
{
    const ssize_t n = ::write(fd, pending.data(), pending.size());
    if (n > 0) {
        pending.erase(pending.begin(), pending.begin() + n);
        return true;
    }
    return n < 0 && (errno == EAGAIN || errno == EINTR);
}

// Reads what is there; false when the descriptor failed.
bool readSome(int fd, std::vector<char> &into)
{
    std::array<char, 4096> buffer{};
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n > 0) {
        into.insert(into.end(), buffer.data(), buffer.data() + n);
        return true;
    }
    return n < 0 && (errno == EAGAIN || errno == EINTR);
}

} // namespace

std::unique_ptr<VirtualSerialLine> VirtualSerialLine::create(const QString &linkPath,
                                                             QString *problem)
{
    std::unique_ptr<VirtualSerialLine> line(new VirtualSerialLine);
    line->m_linkPath = linkPath;
    if (!openEnd(line->m_host, problem) || !openEnd(line->m_simulator, problem))
        return nullptr;
    line->m_stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (line->m_stop < 0) {
        *problem = systemError("eventfd");
        return nullptr;
    }
    if (!placeLink(QFile::encodeName(linkPath), QFile::encodeName(line->m_host.path), problem))
        return nullptr;
    line->m_linkPlaced = true;
    line->m_relay = std::thread([raw = line.get()] { raw->relay(); });
    return line;
}

VirtualSerialLine::~VirtualSerialLine()
{
    if (m_relay.joinable()) {
        const uint64_t one = 1;
        (void)!::write(m_stop, &one, sizeof one);
        m_relay.join();
    }
    if (m_linkPlaced) {
        // Only our own link: whatever took its place since stays.
        const QByteArray path = QFile::encodeName(m_linkPath);
        if (readLink(path) == QFile::encodeName(m_host.path))
            ::unlink(path.constData());
    }
    if (m_stop >= 0)
        ::close(m_stop);
    closeEnd(m_host);
    closeEnd(m_simulator);
}

bool VirtualSerialLine::openEnd(End &end, QString *problem)
{
    end.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (end.master < 0) {
        *problem = systemError("posix_openpt");
        return false;
    }
    std::array<char, 128> name{};
    if (::grantpt(end.master) != 0 || ::unlockpt(end.master) != 0 ||
        ::ptsname_r(end.master, name.data(), name.size()) != 0) {
        *problem = systemError("cannot set up a pseudo-terminal");
        return false;
    }
    end.path = QFile::decodeName(name.data());
    const int flags = ::fcntl(end.master, F_GETFL);
    ::fcntl(end.master, F_SETFL, flags | O_NONBLOCK);
    end.slave = ::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (end.slave < 0 || !makeRaw(end.slave)) {
        *problem = systemError(name.data());
        return false;
    }
    return true;
}

void VirtualSerialLine::closeEnd(End &end)
{
    if (end.slave >= 0)
        ::close(end.slave);
    if (end.master >= 0)
        ::close(end.master);
    end.slave = end.master = -1;
}

void VirtualSerialLine::relay()
{
    // Bytes read from one master wait until the other takes them; meanwhile the first is not
    // read, so its writer's pseudo-terminal buffer fills and holds the writer back.
    std::vector<char> toSimulator;
    std::vector<char> toHost;
    for (;;) {
        std::array<pollfd, 3> fds{{
            {m_stop, POLLIN, 0},
            {m_host.master,
             short((toSimulator.empty() ? POLLIN : 0) | (toHost.empty() ? 0 : POLLOUT)), 0},
            {m_simulator.master,
             short((toHost.empty() ? POLLIN : 0) | (toSimulator.empty() ? 0 : POLLOUT)), 0},
        }};
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents != 0)
            return;
        bool healthy = true;
        if (fds[1].revents & POLLIN)
            healthy &= readSome(m_host.master, toSimulator);
        if (fds[2].revents & POLLIN)
            healthy &= readSome(m_simulator.master, toHost);
        if (fds[2].revents & POLLOUT)
            healthy &= writeSome(m_simulator.master, toSimulator);
        if (fds[1].revents & POLLOUT)
            healthy &= writeSome(m_host.master, toHost);
        // The slaves are held open, so a master does not hang up; should one fail all the
        // same, the relay waits a moment rather than spin.
        if (!healthy || ((fds[1].revents | fds[2].revents) & (POLLHUP | POLLERR)))
            ::poll(fds.data(), 1, 20);
    }
}
