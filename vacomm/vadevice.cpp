#include "vadevice.h"

// Only the kernel's termios2 definitions here (they clash with <termios.h>).
#include <asm/termbits.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

static_assert(sizeof(TVaTermios) == sizeof(struct termios2), "TVaTermios must mirror termios2");

namespace
{
int ioctlResult(int r)
{
    return r == 0 ? 0 : errno;
}
} // namespace

TVaLineCounters operator-(const TVaLineCounters &a, const TVaLineCounters &b)
{
    TVaLineCounters d;
    d.cts = a.cts - b.cts;
    d.dsr = a.dsr - b.dsr;
    d.rng = a.rng - b.rng;
    d.dcd = a.dcd - b.dcd;
    d.rx = a.rx - b.rx;
    d.tx = a.tx - b.tx;
    d.frame = a.frame - b.frame;
    d.overrun = a.overrun - b.overrun;
    d.parity = a.parity - b.parity;
    d.brk = a.brk - b.brk;
    d.buf_overrun = a.buf_overrun - b.buf_overrun;
    return d;
}

bool VaDeviceGone(int E)
{
    return E == EIO || E == ENXIO || E == ENODEV || E == EBADF;
}

TVaPosixDevice::~TVaPosixDevice()
{
    Close();
}

int TVaPosixDevice::Open(const QByteArray &Path, bool Exclusive)
{
    Close();
    int fd;
    do
        fd = ::open(Path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return errno;
    if (Exclusive) {
        // flock: root ignores TIOCEXCL, and two opens inside one process are not told apart by
        // it either; every holder that locks is kept out here.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int e = errno == EWOULDBLOCK ? EBUSY : errno;
            ::close(fd);
            return e;
        }
        // TIOCEXCL: keeps out later non-root opens that do not lock (terminal programs, cat).
        // A pty slave or a plain file may refuse it; that is not a reason to fail.
        if (::ioctl(fd, TIOCEXCL) == 0)
            FExclusive = true;
    }
    FFd = fd;
    return 0;
}

void TVaPosixDevice::Close()
{
    if (FFd < 0)
        return;
    if (FExclusive)
        ::ioctl(FFd, TIOCNXCL);
    ::close(FFd);
    FFd = -1;
    FExclusive = false;
}

int TVaPosixDevice::GetAttr(TVaTermios &T)
{
    struct termios2 t;
    if (::ioctl(FFd, TCGETS2, &t) != 0)
        return errno;
    std::memcpy(static_cast<void *>(&T), &t, sizeof t);
    return 0;
}

int TVaPosixDevice::SetAttr(const TVaTermios &T)
{
    struct termios2 t;
    std::memcpy(&t, &T, sizeof t);
    return ioctlResult(::ioctl(FFd, TCSETS2, &t));
}

long TVaPosixDevice::Read(char *Buf, size_t Count)
{
    for (;;) {
        const ssize_t n = ::read(FFd, Buf, Count);
        if (n >= 0)
            return long(n);
        if (errno != EINTR)
            return -long(errno);
    }
}

long TVaPosixDevice::Write(const char *Buf, size_t Count)
{
    for (;;) {
        const ssize_t n = ::write(FFd, Buf, Count);
        if (n >= 0)
            return long(n);
        if (errno != EINTR)
            return -long(errno);
    }
}

int TVaPosixDevice::InQueue(int &Count)
{
    return ioctlResult(::ioctl(FFd, FIONREAD, &Count));
}
int TVaPosixDevice::OutQueue(int &Count)
{
    return ioctlResult(::ioctl(FFd, TIOCOUTQ, &Count));
}
int TVaPosixDevice::GetModemLines(int &Bits)
{
    return ioctlResult(::ioctl(FFd, TIOCMGET, &Bits));
}

int TVaPosixDevice::SetModemLines(int Bits, bool On)
{
    return ioctlResult(::ioctl(FFd, On ? TIOCMBIS : TIOCMBIC, &Bits));
}

int TVaPosixDevice::SetBreak(bool On)
{
    return ioctlResult(::ioctl(FFd, On ? TIOCSBRK : TIOCCBRK));
}
int TVaPosixDevice::Flow(int Action)
{
    return ioctlResult(::ioctl(FFd, TCXONC, Action));
}
int TVaPosixDevice::Flush(int Queue)
{
    return ioctlResult(::ioctl(FFd, TCFLSH, Queue));
}

int TVaPosixDevice::GetCounters(TVaLineCounters &C)
{
    struct serial_icounter_struct c;
    std::memset(&c, 0, sizeof c);
    if (::ioctl(FFd, TIOCGICOUNT, &c) != 0)
        return errno;
    C.cts = c.cts;
    C.dsr = c.dsr;
    C.rng = c.rng;
    C.dcd = c.dcd;
    C.rx = c.rx;
    C.tx = c.tx;
    C.frame = c.frame;
    C.overrun = c.overrun;
    C.parity = c.parity;
    C.brk = c.brk;
    C.buf_overrun = c.buf_overrun;
    return 0;
}
