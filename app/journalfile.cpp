#include "journalfile.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Opened without blocking (a FIFO nobody reads would hold the program in open()) and without
// becoming the controlling terminal; only a regular file is kept.
int openRegular(const QByteArray &path, int extraFlags, QString *error)
{
    const int fd =
        ::open(path.constData(),
               O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | extraFlags, 0644);
    if (fd < 0) {
        *error = errno == ENXIO ? QStringLiteral("not a regular file (a FIFO or socket)")
                                : QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        *error = QStringLiteral("not a regular file");
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace

JournalFile::~JournalFile()
{
    close();
}

bool JournalFile::open(const QString &path, qint64 maxBytes, QString *error)
{
    close();
    const int fd = openRegular(QFile::encodeName(path), O_APPEND, error);
    if (fd < 0)
        return false;
    struct stat status;
    fstat(fd, &status);
    m_path = path;
    m_maxBytes = maxBytes;
    m_fd = fd;
    m_size = status.st_size;
    m_accepting = true;
    m_writer = std::thread([this] { run(); });
    return true;
}

void JournalFile::append(const QByteArray &line)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_accepting)
        return;
    if (m_pending.size() + line.size() >= kMaxPendingBytes) {
        ++m_dropped;
        return;
    }
    m_pending += line;
    m_pending += '\n';
}

void JournalFile::close()
{
    if (!m_writer.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_accepting = false;
    }
    m_wake.notify_one();
    m_writer.join();
    ::close(m_fd);
    m_fd = -1;
}

void JournalFile::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait_for(lock, std::chrono::milliseconds(kFlushMs), [this] { return !m_accepting; });
        QByteArray batch;
        batch.swap(m_pending);
        if (m_dropped > 0) {
            batch += "{\"dir\":\"event\",\"kind\":\"journal\",\"message\":\"" +
                     QByteArray::number(m_dropped) +
                     " lines were left out here: the disk fell behind\"}\n";
            m_dropped = 0;
        }
        const bool stop = !m_accepting;
        lock.unlock();
        if (!batch.isEmpty())
            write(batch);
        if (stop)
            return;
        lock.lock();
    }
}

void JournalFile::write(const QByteArray &batch)
{
    if (m_size > 0 && m_size + batch.size() > m_maxBytes)
        rotate();
    qsizetype done = 0;
    while (done < batch.size()) {
        const ssize_t written = ::write(m_fd, batch.constData() + done, batch.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return; // a full disk: the rest of this batch is lost, later ones are tried anew
        done += written;
    }
    m_size += done;
}

void JournalFile::rotate()
{
    const QByteArray path = QFile::encodeName(m_path);
    const QByteArray older = path + ".1";
    if (::rename(path.constData(), older.constData()) != 0)
        return; // kept growing rather than lost
    QString error;
    const int fd = openRegular(path, O_APPEND | O_TRUNC, &error);
    if (fd < 0)
        return; // the renamed file stays open and takes the lines
    ::close(m_fd);
    m_fd = fd;
    m_size = 0;
}
