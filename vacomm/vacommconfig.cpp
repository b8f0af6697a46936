// Device configuration: the settings written to the device as a control block (through termios,
// see vatermios.h), the queue sizes, time-outs and the event mask.

#include "vacomm.h"

#include <sys/ioctl.h>
#include <termios.h>

QString TVaCustomComm::GetDevicePath() const
{
    const QString name = VaFormat(FDeviceName, {FPortNum});
    if (name.contains(QLatin1Char('/')))
        return name;
    return QStringLiteral("/dev/") + name;
}

int TVaCustomComm::GetCommState(TVaDCB &Dcb)
{
    TVaTermios t;
    const int e = FDevice->GetAttr(t);
    if (e != 0)
        return e;
    Dcb = TermiosToDCB(t);
    if (FDeviceDCBValid) {
        // What the tty cannot hold comes from what was last written.
        const quint32 kept = DCB_OUTXDSRFLOW | DCB_DSRSENSITIVITY | DCB_TXCONTINUEONXOFF |
                             DCB_ERRORCHAR | DCB_NULL | DCB_ABORTONERROR |
                             (3u << DCB_DTRCONTROL_SHIFT) | (3u << DCB_RTSCONTROL_SHIFT);
        Dcb.Flags = (Dcb.Flags & ~kept) | (FDeviceDCB.Flags & kept);
        Dcb.XonLim = FDeviceDCB.XonLim;
        Dcb.XoffLim = FDeviceDCB.XoffLim;
        Dcb.ErrorChar = FDeviceDCB.ErrorChar;
        Dcb.EvtChar = FDeviceDCB.EvtChar;
    }
    return 0;
}

int TVaCustomComm::SetCommState(const TVaDCB &Dcb)
{
    TVaTermios t;
    int e = FDevice->GetAttr(t);
    if (e == 0)
        e = DCBToTermios(Dcb, t);
    if (e == 0)
        e = FDevice->SetAttr(t);
    if (e != 0)
        return e;
    // DTR and RTS as the control fields say; a line the kernel drives (CRTSCTS) or that a Linux
    // tty cannot drive (DTR handshake, RTS toggle) is left alone. A tty without modem lines
    // (a pty) does not support these at all, which is fine.
    const quint32 dtr = (Dcb.Flags >> DCB_DTRCONTROL_SHIFT) & 3;
    const quint32 rts = (Dcb.Flags >> DCB_RTSCONTROL_SHIFT) & 3;
    if (dtr <= 1) {
        const int r = FDevice->SetModemLines(TIOCM_DTR, dtr == 1);
        if (r != 0 && !VaNotSupported(r))
            return r;
    }
    if (rts <= 1 && !(t.c_cflag & CRTSCTS)) {
        const int r = FDevice->SetModemLines(TIOCM_RTS, rts == 1);
        if (r != 0 && !VaNotSupported(r))
            return r;
    }
    FDeviceDCB = Dcb;
    FDeviceDCBValid = true;
    return 0;
}

void TVaCustomComm::ApplyDCB()
{
    if (!Active() || !FUpdateDCB)
        return;
    TVaDCB dcb;
    GetCommState(dcb); // the result is ignored: every field that matters is set below
    dcb.DCBlength = 28;
    dcb.BaudRate = quint32(FBaudrate == brUser ? FUserBaudrate : VaBaudrateValue(FBaudrate));
    dcb.ByteSize = VaDatabitsValue(FDatabits);
    dcb.Parity = VaParityValue(FParity);
    dcb.StopBits = VaStopbitsValue(FStopbits);
    dcb.XonChar = FEventChars->XonChar();
    dcb.XoffChar = FEventChars->XoffChar();
    dcb.ErrorChar = FEventChars->ErrorChar();
    dcb.EofChar = FEventChars->EofChar();
    dcb.EvtChar = FEventChars->EventChar();
    dcb.XonLim = quint16(FBuffers->XonLimit());
    dcb.XoffLim = quint16(FBuffers->XoffLimit());
    quint32 f = DCB_BINARY;
    if (FFlowControl->OutCtsFlow())
        f |= DCB_OUTXCTSFLOW;
    if (FFlowControl->OutDsrFlow())
        f |= DCB_OUTXDSRFLOW;
    if (FFlowControl->XonXoffOut())
        f |= DCB_OUTX;
    if (FFlowControl->XonXoffIn())
        f |= DCB_INX;
    f |= quint32(FFlowControl->ControlDtr()) << DCB_DTRCONTROL_SHIFT;
    f |= quint32(FFlowControl->ControlRts()) << DCB_RTSCONTROL_SHIFT;
    if (FFlowControl->DsrSensitivity())
        f |= DCB_DSRSENSITIVITY;
    if (FFlowControl->TxContinueOnXoff())
        f |= DCB_TXCONTINUEONXOFF;
    for (int o = coErrorChar; o <= coParityCheck; ++o)
        if (FOptions & vaOption(TVaCommOption(o)))
            f |= VaCommOptionFlag(TVaCommOption(o));
    dcb.Flags = f;
    CheckCommResult(SetCommState(dcb), QStringLiteral("Error writing dcb (%d), %s"));
}

void TVaCustomComm::ApplyBufferSizes()
{
    if (!Active())
        return;
    // Linux tty queues have fixed sizes: the sizes are kept for Properties and the limits.
    FDeviceInQueue = FBuffers->ReadSize();
    FDeviceOutQueue = FBuffers->WriteSize();
}

void TVaCustomComm::ApplyTimeouts()
{
    TVaCommTimeouts t;
    t.ReadIntervalTimeout = 0xFFFFFFFFu;
    // Reads return at once with what is waiting: VMIN 0, VTIME 0 on a non-blocking descriptor.
    TVaTermios tio;
    int e = FDevice->GetAttr(tio);
    if (e == 0) {
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        e = FDevice->SetAttr(tio);
    }
    CheckCommResult(e, QStringLiteral("Error setting timeouts (%d), %s"));
    FDeviceTimeouts = t;
}

void TVaCustomComm::ApplyEventMask()
{
    FEventMask = VaEventMaskOf(FMonitorEvents);
    if (!FDirectWrite)
        FEventMask &= ~quint32(EV_TXEMPTY);
    // The mask is installed by starting the event thread with it (StartThreads); nothing can
    // fail here.
}
