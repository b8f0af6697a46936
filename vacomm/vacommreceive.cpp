// Receive: reading, the queue counts and line errors (GetStatus), waiting for a byte.

#include "vacomm.h"

#include <cerrno>
#include <sys/ioctl.h>

namespace
{

quint32 errorFlagsOf(const TVaLineCounters &d)
{
    quint32 f = 0;
    if (d.buf_overrun)
        f |= CE_RXOVER;
    if (d.overrun)
        f |= CE_OVERRUN;
    if (d.parity)
        f |= CE_RXPARITY;
    if (d.frame)
        f |= CE_FRAME;
    if (d.brk)
        f |= CE_BREAK;
    return f;
}

} // namespace

qint32 TVaCustomComm::ReadBuf(char *Buf, qint32 Count)
{
    if (!Active())
        return 0;
    std::lock_guard<TVaCriticalSection> g(FGlobalSection);
    if (Count <= 0)
        return 0;
    // The descriptor is non-blocking with VMIN 0: the read returns at once with what is waiting.
    const long n = FDevice->Read(Buf, size_t(Count));
    if (n >= 0)
        return qint32(n);
    const int e = int(-n);
    if (e == EAGAIN || e == EWOULDBLOCK)
        return 0;
    if (VaDeviceGone(e)) {
        MarkDeviceLost();
        return 0;
    }
    RaiseCommError(QStringLiteral("Read error (%d), %s"), e);
}

bool TVaCustomComm::ReadChar(char &Ch)
{
    char c;
    if (ReadBuf(&c, 1) != 1)
        return false;
    Ch = c;
    return true;
}

QByteArray TVaCustomComm::ReadText()
{
    const qint32 count = ReadBufUsed();
    if (count <= 0)
        return QByteArray();
    QByteArray s(count, Qt::Uninitialized);
    const qint32 n = ReadBuf(s.data(), count);
    s.truncate(n);
    return s;
}

void TVaCustomComm::MarkDeviceLost()
{
    if (!FDeviceLost.exchange(true))
        FPendingErrors |= CE_IOE;
}

quint32 TVaCustomComm::CollectLineErrors()
{
    if (!FStatusCountersValid)
        return 0;
    TVaLineCounters c;
    if (FDevice->GetCounters(c) != 0)
        return 0;
    const quint32 f = errorFlagsOf(c - FStatusCounters);
    FStatusCounters = c;
    return f;
}

void TVaCustomComm::GetStatus(TVaCommStatus &Status)
{
    std::lock_guard<TVaCriticalSection> g(FGlobalSection);
    Status = TVaCommStatus();
    if (!Active())
        return;
    int in = 0, out = 0;
    if (!FDeviceLost) {
        int e = FDevice->InQueue(in);
        if (e == 0) {
            e = FDevice->OutQueue(out);
            if (VaNotSupported(e)) {
                out = 0;
                e = 0;
            }
        }
        if (e != 0 && VaDeviceGone(e)) {
            MarkDeviceLost();
            in = out = 0;
        } else if (e != 0) {
            RaiseCommError(QStringLiteral("Error retrieving statistics (%d), %s"), e);
        }
    }
    Status.cbInQue = quint32(in > 0 ? in : 0);
    Status.cbOutQue = quint32(out > 0 ? out : 0);
    Status.Errors = CollectLineErrors() | FPendingErrors.exchange(0);
    // Hold flags: output held by a low CTS under hardware flow control, or stopped by SetXon.
    // Linux does not hold output for DSR or RLSD, and does not say whether it sent XOFF.
    int lines = 0;
    if ((FFlowControl->OutCtsFlow() || FFlowControl->ControlRts() == rtsHandshake) &&
        FDevice->GetModemLines(lines) == 0 && !(lines & TIOCM_CTS))
        Status.Flags |= HOLD_CTS;
    if (FOutputSuspended)
        Status.Flags |= HOLD_XOFF;
}

qint32 TVaCustomComm::ReadBufUsed()
{
    if (!Active())
        return 0;
    TVaCommStatus s;
    GetStatus(s);
    return qint32(s.cbInQue);
}

qint32 TVaCustomComm::ReadBufFree()
{
    if (!Active())
        return 0;
    return FBuffers->ReadSize() - ReadBufUsed();
}

qint32 TVaCustomComm::UARTReadBufUsed()
{
    TVaCommStatus s;
    GetStatus(s);
    return qint32(s.cbInQue);
}

qint32 TVaCustomComm::UARTWriteBufUsed()
{
    TVaCommStatus s;
    GetStatus(s);
    return qint32(s.cbOutQue);
}

bool TVaCustomComm::WaitChar(quint32 TimeOut)
{
    TWaitThread t(this);
    t.Start();
    if (t.WaitEnd(TimeOut))
        return true;
    // Told to stop, it ends at once; its destructor joins it, so nothing of it outlives this.
    t.setDone(true);
    return false;
}

bool TVaCustomComm::ReadCharWait(char &Ch, quint32 TimeOut)
{
    WaitChar(TimeOut);
    return ReadChar(Ch);
}
