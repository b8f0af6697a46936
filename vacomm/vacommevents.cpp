// Events: what the event thread collects from the device, and how a batch is dispatched to the
// handlers and the clients on the owner's side.

#include "vacomm.h"

#include <sys/ioctl.h>

namespace
{
constexpr quint32 kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
} // namespace

// ---------------------------------------------------------------- event thread side

void TVaCustomComm::PrimeEventSnapshots()
{
    TVaLineCounters c;
    FEvtCountersValid = FDevice->GetCounters(c) == 0;
    FEvtCounters = c;
    int m = 0;
    FEvtModemValid = FDevice->GetModemLines(m) == 0;
    FEvtModem = m;
}

int TVaCustomComm::EventPollInterval() const
{
    if (FDeviceLost)
        return -1;
    // Modem line changes wake nobody on Linux (only TIOCMIWAIT sees them, and it cannot be
    // waited for together with anything else): look every 20 ms while they are watched.
    if ((FEventMask & kModemEvents) && (FEvtCountersValid || FEvtModemValid))
        return 20;
    // Direct mode: the drain of the output queue is not signalled either.
    if (FTxPending)
        return 10;
    return -1;
}

quint32 TVaCustomComm::CollectEvents(bool Readable)
{
    quint32 mask = 0;
    if (Readable) {
        int n = 0;
        if (FDevice->InQueue(n) == 0 && n > 0)
            mask |= EV_RXCHAR;
    }
    if (FEvtCountersValid) {
        TVaLineCounters c;
        if (FDevice->GetCounters(c) == 0) {
            const TVaLineCounters d = c - FEvtCounters;
            FEvtCounters = c;
            if (d.frame || d.overrun || d.parity || d.buf_overrun)
                mask |= EV_ERR;
            if (d.brk)
                mask |= EV_BREAK;
            if (d.cts)
                mask |= EV_CTS;
            if (d.dsr)
                mask |= EV_DSR;
            if (d.dcd)
                mask |= EV_RLSD;
            if (d.rng)
                mask |= EV_RING;
        }
    }
    if (FEvtModemValid) {
        int m = 0;
        if (FDevice->GetModemLines(m) == 0) {
            const int changed = m ^ FEvtModem;
            FEvtModem = m;
            if (changed & TIOCM_CTS)
                mask |= EV_CTS;
            if (changed & TIOCM_DSR)
                mask |= EV_DSR;
            if (changed & TIOCM_CD)
                mask |= EV_RLSD;
            // Windows reports the ring's trailing edge; both edges are a ring here.
            if (changed & TIOCM_RI)
                mask |= EV_RING;
        }
    }
    if (FTxPending) {
        int out = 0;
        const int e = FDevice->OutQueue(out);
        if (e != 0 || out == 0) {
            FTxPending = false;
            mask |= EV_TXEMPTY;
        }
    }
    if (FPendingErrors.load() & CE_IOE)
        mask |= EV_ERR;
    return mask;
}

// ---------------------------------------------------------------- event dispatch

void TVaCustomComm::DispatchEvents(quint32 EventMask)
{
    try {
        if (FDisplay)
            FDisplay->UpdateDisplay(this);
        if (EventMask & EV_RXCHAR) {
            DoRxChar();
            EventMask &= ~quint32(EV_RXCHAR);
        }
        if (EventMask != 0)
            DoEvent(EventMask);
    } catch (...) {
        VaHandleException(std::current_exception());
    }
}

void TVaCustomComm::DoRxChar()
{
    const qint32 count = ReadBufUsed();
    if (count <= 0)
        return;
    if (!FClients.isEmpty()) {
        std::unique_ptr<char[]> data(new char[size_t(count)]);
        const qint32 n = ReadBuf(data.get(), count);
        if (n > 0)
            DoRxBuf(data.get(), n);
        return;
    }
    if (FOnRxChar)
        FOnRxChar(this, count);
}

void TVaCustomComm::DoRxBuf(PVaData Data, qint32 Count)
{
    if (FControlsEnabled) {
        const QList<TVaDispatcher *> clients = FClients;
        for (TVaDispatcher *d : clients)
            if (FClients.contains(d) && d->Active() && FControlsEnabled)
                d->Owner()->CommData(Data, Count);
    }
    if (FOnRxBuf)
        FOnRxBuf(this, Data, Count);
}

void TVaCustomComm::NotifyClients(quint32 EventMask)
{
    const QList<TVaDispatcher *> clients = FClients;
    for (TVaDispatcher *d : clients)
        if (FControlsEnabled && FClients.contains(d) && d->Active())
            d->Owner()->CommEvent(EventMask);
}

void TVaCustomComm::DoError()
{
    try {
        TVaCommStatus s;
        GetStatus(s);
        if (s.Errors != 0 && FOnError)
            FOnError(this, qint32(s.Errors));
    } catch (...) {
        VaHandleException(std::current_exception());
    }
}

void TVaCustomComm::DoEvent(quint32 EventMask)
{
    if (EventMask & EV_ERR)
        DoError();
    if (!FClients.isEmpty())
        NotifyClients(EventMask);
    const struct {
        quint32 bit;
        TNotifyEvent TVaCustomComm::*handler;
    } order[] = {
        {EV_RXFLAG, &TVaCustomComm::FOnRxFlag},     {EV_CTS, &TVaCustomComm::FOnCts},
        {EV_DSR, &TVaCustomComm::FOnDsr},           {EV_RING, &TVaCustomComm::FOnRing},
        {EV_RLSD, &TVaCustomComm::FOnRlsd},         {EV_TXEMPTY, &TVaCustomComm::FOnTxEmpty},
        {EV_BREAK, &TVaCustomComm::FOnBreak},       {EV_PERR, &TVaCustomComm::FOnPErr},
        {EV_RX80FULL, &TVaCustomComm::FOnRx80Full}, {EV_EVENT1, &TVaCustomComm::FOnEvent1},
        {EV_EVENT2, &TVaCustomComm::FOnEvent2}};
    for (const auto &o : order) {
        if (!(EventMask & o.bit))
            continue;
        // A copy: the handler may replace itself.
        const TNotifyEvent h = this->*o.handler;
        if (h)
            h(this);
    }
}
