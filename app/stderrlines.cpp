#include "stderrlines.h"

#include <cerrno>
#include <climits>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

bool isPipeOrSocket(int fd)
{
    struct stat status;
    return fstat(fd, &status) == 0 && (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode));
}

// A pipe that poll() calls writable takes a write of up to PIPE_BUF bytes whole, without
// waiting; longer lines are cut there.
QByteArray fitted(QByteArray line, bool pipe)
{
    if (pipe && line.size() >= PIPE_BUF)
        line = line.left(PIPE_BUF - 4) + "...";
    return line + '\n';
}

} // namespace

bool StderrLines::write(const QByteArray &line)
{
    const bool pipe = isPipeOrSocket(m_fd);
    if (m_dropped > 0) {
        const QByteArray notice = "vorlak: " + QByteArray::number(m_dropped) +
                                  " lines were left out here: nobody read this output";
        if (!writeWhole(fitted(notice, pipe))) {
            ++m_dropped;
            return false;
        }
        m_dropped = 0;
    }
    if (!writeWhole(fitted(line, pipe))) {
        ++m_dropped;
        return false;
    }
    return true;
}

bool StderrLines::writeWhole(const QByteArray &bytes)
{
    pollfd ready{m_fd, POLLOUT, 0};
    int polled;
    do
        polled = ::poll(&ready, 1, 0);
    while (polled < 0 && errno == EINTR);
    if (polled <= 0 || !(ready.revents & POLLOUT))
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(m_fd, bytes.constData() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return done > 0; // a line begun counts as said; nothing more will go now
        done += written;
    }
    return true;
}
