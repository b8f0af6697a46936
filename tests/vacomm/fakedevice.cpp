#include "fakedevice.h"

#include <cerrno>
#include <cstring>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

FakeDevice::FakeDevice() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    // A fresh tty: 38400 baud, canonical mode with echo.
    m_termios.c_cflag = B38400 | CS8 | CREAD | HUPCL;
    m_termios.c_lflag = ICANON | ECHO | ISIG;
    m_termios.c_iflag = ICRNL;
    m_termios.c_oflag = OPOST | ONLCR;
    m_termios.c_cc[VMIN] = 1;
    m_termios.c_cc[VSTART] = 0x11;
    m_termios.c_cc[VSTOP] = 0x13;
    m_termios.c_ispeed = m_termios.c_ospeed = 38400;
}

FakeDevice::~FakeDevice()
{
    ::close(m_fd);
}

int FakeDevice::Open(const QByteArray &Path, bool)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    if (openError)
        return openError;
    openedPath = Path;
    m_open = true;
    return 0;
}

void FakeDevice::Close()
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_open = false;
}

int FakeDevice::GetAttr(TVaTermios &T)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    ++m_getAttrCalls;
    T = m_termios;
    return 0;
}

int FakeDevice::SetAttr(const TVaTermios &T)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    ++m_setAttrCalls;
    m_termios = T;
    return 0;
}

long FakeDevice::Read(char *Buf, size_t Count)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    const size_t n = std::min(Count, size_t(m_input.size()));
    std::memcpy(Buf, m_input.constData(), n);
    m_input.remove(0, qsizetype(n));
    return long(n);
}

long FakeDevice::Write(const char *Buf, size_t Count)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    if (m_writeErrorsLeft > 0) {
        --m_writeErrorsLeft;
        return -long(m_writeError);
    }
    m_output.append(Buf, qsizetype(Count));
    return long(Count);
}

int FakeDevice::InQueue(int &Count)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    Count = int(m_input.size());
    return 0;
}

int FakeDevice::OutQueue(int &Count)
{
    Count = 0;
    return 0;
}

int FakeDevice::GetModemLines(int &Bits)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    if (!hasModemLines)
        return ENOTTY;
    Bits = m_modem;
    return 0;
}

int FakeDevice::SetModemLines(int Bits, bool On)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    if (!hasModemLines)
        return ENOTTY;
    if (Bits & TIOCM_DTR)
        m_log.append(QStringLiteral("dtr=%1").arg(int(On)));
    if (Bits & TIOCM_RTS)
        m_log.append(QStringLiteral("rts=%1").arg(int(On)));
    m_modem = On ? (m_modem | Bits) : (m_modem & ~Bits);
    return 0;
}

int FakeDevice::SetBreak(bool On)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_log.append(QStringLiteral("break=%1").arg(int(On)));
    return 0;
}

int FakeDevice::Flow(int Action)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_log.append(QStringLiteral("flow=%1").arg(Action));
    return 0;
}

int FakeDevice::Flush(int Queue)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_log.append(QStringLiteral("flush=%1").arg(Queue));
    if (Queue == TCIFLUSH || Queue == TCIOFLUSH)
        m_input.clear();
    return 0;
}

int FakeDevice::GetCounters(TVaLineCounters &C)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    if (!hasCounters)
        return ENOTTY;
    C = m_counters;
    return 0;
}

void FakeDevice::signal()
{
    const quint64 one = 1;
    [[maybe_unused]] ssize_t r = ::write(m_fd, &one, sizeof one);
}

void FakeDevice::receive(const QByteArray &bytes, bool wake)
{
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_input.append(bytes);
        m_counters.rx += int(bytes.size());
    }
    if (wake)
        signal();
}

void FakeDevice::setLine(int bit, bool on, bool wake)
{
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (bool(m_modem & bit) == on)
            return;
        m_modem = on ? (m_modem | bit) : (m_modem & ~bit);
        if (bit == TIOCM_CTS)
            ++m_counters.cts;
        if (bit == TIOCM_DSR)
            ++m_counters.dsr;
        if (bit == TIOCM_CD)
            ++m_counters.dcd;
        if (bit == TIOCM_RI)
            ++m_counters.rng;
    }
    if (wake)
        signal();
}

void FakeDevice::frameError(bool wake)
{
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        ++m_counters.frame;
    }
    if (wake)
        signal();
}

void FakeDevice::breakReceived(bool wake)
{
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        ++m_counters.brk;
    }
    if (wake)
        signal();
}

void FakeDevice::setWriteErrors(int error, int count)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_writeError = error;
    m_writeErrorsLeft = count;
}

QByteArray FakeDevice::written() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_output;
}

TVaTermios FakeDevice::termios() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_termios;
}

int FakeDevice::setAttrCalls() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_setAttrCalls;
}

int FakeDevice::getAttrCalls() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_getAttrCalls;
}

QList<QString> FakeDevice::log() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_log;
}

void FakeDevice::clearLog()
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_log.clear();
}
