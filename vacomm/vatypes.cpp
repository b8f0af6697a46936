// The enumerations' numeric values and the control block's comparison.

#include "vatypes.h"

qint32 VaBaudrateValue(TVaBaudrate b)
{
    static const qint32 values[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                    14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return b <= br256000 ? values[b] : 0;
}
quint8 VaParityValue(TVaParity p)
{
    return quint8(p);
}
quint8 VaDatabitsValue(TVaDatabits d)
{
    return quint8(d + 4);
}
quint8 VaStopbitsValue(TVaStopbits s)
{
    return quint8(s);
}
quint32 VaCommOptionFlag(TVaCommOption o)
{
    static const quint32 flags[] = {DCB_ERRORCHAR, DCB_NULL, DCB_PARITY};
    return o <= coParityCheck ? flags[o] : 0;
}
quint32 VaCommEventBit(TVaCommEvent e)
{
    static const quint32 bits[] = {EV_BREAK,    EV_CTS,    EV_DSR,     EV_ERR,    EV_RING,
                                   EV_RLSD,     EV_RXCHAR, EV_TXEMPTY, EV_RXFLAG, EV_PERR,
                                   EV_RX80FULL, EV_EVENT1, EV_EVENT2};
    return e <= ceEvent2 ? bits[e] : 0;
}
quint32 VaEventMaskOf(TVaCommEvents events)
{
    quint32 m = 0;
    for (int e = ceBreak; e <= ceEvent2; ++e)
        if (events & vaEvent(TVaCommEvent(e)))
            m |= VaCommEventBit(TVaCommEvent(e));
    return m;
}

bool TVaDCB::operator==(const TVaDCB &o) const
{
    return BaudRate == o.BaudRate && Flags == o.Flags && XonLim == o.XonLim &&
           XoffLim == o.XoffLim && ByteSize == o.ByteSize && Parity == o.Parity &&
           StopBits == o.StopBits && XonChar == o.XonChar && XoffChar == o.XoffChar &&
           ErrorChar == o.ErrorChar && EofChar == o.EofChar && EvtChar == o.EvtChar;
}
