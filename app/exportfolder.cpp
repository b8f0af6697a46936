#include "exportfolder.h"

#include "vorlakerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace
{

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The path with every link resolved; empty when some part of it does not exist.
QString resolvedPath(const QString &path)
{
    char buffer[PATH_MAX];
    if (!::realpath(QFile::encodeName(path).constData(), buffer))
        return {};
    return QFile::decodeName(buffer);
}

// The folder an open descriptor really is, whatever was renamed or re-linked since it was
// looked up by name.
QString pathOfDescriptor(int fd)
{
    char buffer[PATH_MAX];
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
    const ssize_t n = ::readlink(link.constData(), buffer, sizeof buffer - 1);
    if (n < 0)
        return {};
    return QFile::decodeName(QByteArray(buffer, n));
}

bool isInside(const QString &path, const QString &root)
{
    return path == root ||
           path.startsWith(root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/'));
}

class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

} // namespace

std::unique_ptr<QFile> ExportFolder::openForWriting(const QString &path, QString *resolved) const
{
    const QString root = resolvedPath(m_folder);
    if (root.isEmpty())
        throw VorlakError(QStringLiteral("export folder %1 does not exist").arg(m_folder));
    const QString absolute = QDir(root).absoluteFilePath(path);
    const QFileInfo info(absolute);
    const QString name = info.fileName();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        throw VorlakError(QStringLiteral("%1: needs a file name").arg(path));
    const QString parent = resolvedPath(info.path());
    if (parent.isEmpty())
        throw VorlakError(QStringLiteral("%1: the folder does not exist").arg(path));
    const QString refused =
        QStringLiteral("%1: outside the export folder %2 (see --export-dir)").arg(path, root);
    if (!isInside(parent, root))
        throw VorlakError(refused);

    const Descriptor folder(::open(QFile::encodeName(parent).constData(),
                                   O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    if (folder.get() < 0)
        throw VorlakError(QStringLiteral("%1: %2").arg(path, systemText(errno)));
    if (!isInside(pathOfDescriptor(folder.get()), root))
        throw VorlakError(refused);

    Descriptor file(::openat(folder.get(), QFile::encodeName(name).constData(),
                             O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                             0644));
    if (file.get() < 0) {
        const int error = errno;
        if (error == ELOOP)
            throw VorlakError(QStringLiteral("%1: is a symbolic link").arg(path));
        if (error == ENXIO)
            throw VorlakError(
                QStringLiteral("%1: not a regular file (a FIFO or socket)").arg(path));
        throw VorlakError(QStringLiteral("%1: %2").arg(path, systemText(error)));
    }
    struct stat status {
    };
    if (::fstat(file.get(), &status) != 0)
        throw VorlakError(QStringLiteral("%1: %2").arg(path, systemText(errno)));
    if (!S_ISREG(status.st_mode))
        throw VorlakError(QStringLiteral("%1: not a regular file").arg(path));
    // Another name for a file elsewhere: writing it would write there.
    if (status.st_nlink > 1)
        throw VorlakError(QStringLiteral("%1: the file has other hard links").arg(path));
    const int flags = ::fcntl(file.get(), F_GETFL);
    if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        ::ftruncate(file.get(), 0) != 0)
        throw VorlakError(QStringLiteral("%1: %2").arg(path, systemText(errno)));

    auto out = std::make_unique<QFile>();
    if (!out->open(file.get(), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        throw VorlakError(QStringLiteral("%1: %2").arg(path, out->errorString()));
    file.release();
    if (resolved)
        *resolved = parent + QLatin1Char('/') + name;
    return out;
}
