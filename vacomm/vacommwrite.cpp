// Write: the write queue or direct writes with their time-out, and purging the queues.

#include "vacomm.h"

#include <cerrno>
#include <poll.h>
#include <termios.h>

qint32 TVaCustomComm::WriteBuf(const char *Buf, qint32 Count)
{
    if (!Active() || Count < 0)
        return 0;
    // A lost device takes nothing: the write fails at once instead of queueing bytes that no
    // one will ever drain (and then waiting its whole time-out for room).
    if (FDeviceLost)
        return 0;
    if (!FDirectWrite) {
        if (!FWriteThread)
            return 0;
        if (!FWriteThread->WriteData(Buf, Count))
            throw EVaCommError(QStringLiteral("Output buffer is full. Please check comm status."));
        return Count;
    }
    // Direct mode: this thread writes and waits up to WriteTimeout for the device to take all;
    // its own poll is its completion signal. What the device took before the time ran out stays
    // sent and is counted.
    std::lock_guard<TVaCriticalSection> g(FWriteSection);
    const quint32 start = VaTickCount();
    const quint32 timeout = quint32(FBuffers->WriteTimeout());
    qint32 done = 0;
    while (done < Count) {
        const long n = FDevice->Write(Buf + done, size_t(Count - done));
        if (n > 0) {
            done += qint32(n);
            continue;
        }
        const int e = n < 0 ? int(-n) : EAGAIN;
        if (e != EAGAIN && e != EWOULDBLOCK) {
            if (VaDeviceGone(e))
                MarkDeviceLost();
            if (done > 0)
                break;
            RaiseCommError(QStringLiteral("Write error (%d), %s"), e);
        }
        const quint32 elapsed = VaTicksSince(start, VaTickCount());
        if (elapsed > timeout)
            break;
        pollfd p{FDevice->Descriptor(), POLLOUT, 0};
        ::poll(&p, 1, int(timeout - elapsed) + 1);
        if (p.revents & (POLLHUP | POLLERR)) {
            MarkDeviceLost();
            break;
        }
    }
    if (done > 0 && FEventThread) {
        FTxPending = true;
        FTxKick.SetEvent();
    }
    return done;
}

bool TVaCustomComm::WriteText(const QByteArray &s)
{
    if (s.isEmpty() && !Active())
        return true;
    return WriteBuf(s.constData(), qint32(s.size())) == s.size();
}

bool TVaCustomComm::WriteChar(char Ch)
{
    return WriteBuf(&Ch, 1) == 1;
}

qint32 TVaCustomComm::WriteBufUsed()
{
    if (!Active())
        return 0;
    if (FDirectWrite) {
        TVaCommStatus s;
        GetStatus(s);
        return qint32(s.cbOutQue);
    }
    if (!FWriteThread)
        return 0;
    std::lock_guard<TVaCriticalSection> g(FWriteSection);
    return FWriteThread->Buffer().Size();
}

qint32 TVaCustomComm::WriteBufFree()
{
    if (!Active() || (!FDirectWrite && !FWriteThread))
        return 0;
    return FBuffers->WriteSize() - WriteBufUsed();
}

void TVaCustomComm::Purge(quint32 Code)
{
    if (!Active())
        return;
    std::lock_guard<TVaCriticalSection> g(FGlobalSection);
    if (Code != (PURGE_RXABORT | PURGE_RXCLEAR) && FWriteThread)
        FWriteThread->PurgeWrite();
    const bool rx = Code & (PURGE_RXABORT | PURGE_RXCLEAR);
    const bool tx = Code & (PURGE_TXABORT | PURGE_TXCLEAR);
    if (!rx && !tx)
        return;
    const int queue = rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH;
    CheckCommResult(FDevice->Flush(queue), QStringLiteral("Error clearing buffers (%d), %s"));
}
