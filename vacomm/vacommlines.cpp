// Lines and status: the modem and flow control lines, breaks, the hold flags, the device's
// properties and its current settings read back.

#include "vacomm.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <termios.h>

void TVaCustomComm::EscapeFunction(quint32 Func)
{
    if (!Active())
        return;
    int e = 0;
    switch (Func) {
    case SETXOFF:
    case SETXON:
        e = FDevice->Flow(Func == SETXON ? TCOON : TCOOFF);
        if (e == 0)
            FOutputSuspended = Func == SETXOFF;
        break;
    case SETRTS:
    case CLRRTS:
        e = FDevice->SetModemLines(TIOCM_RTS, Func == SETRTS);
        break;
    case SETDTR:
    case CLRDTR:
        e = FDevice->SetModemLines(TIOCM_DTR, Func == SETDTR);
        break;
    case SETBREAK:
    case CLRBREAK:
        e = FDevice->SetBreak(Func == SETBREAK);
        break;
    case RESETDEV:
        // A serial line has nothing to reset; serial drivers accept the request as a no-op.
        break;
    default:
        e = EINVAL;
        break;
    }
    CheckCommResult(e, QStringLiteral("Error calling comm function (%d), %s"));
}

void TVaCustomComm::SetDTR(bool Value)
{
    if (FFlowControl->ControlDtr() == dtrHandshake)
        throw EVaCommError(
            QStringLiteral("DTR line updates not allowed when flowcontrol is set to Handshake."));
    EscapeFunction(Value ? SETDTR : CLRDTR);
}

void TVaCustomComm::SetRTS(bool Value)
{
    if (FFlowControl->ControlRts() == rtsHandshake || FFlowControl->ControlRts() == rtsToggle)
        throw EVaCommError(QStringLiteral(
            "RTS line updates not allowed when flowcontrol is set to Handshake or Toggle."));
    EscapeFunction(Value ? SETRTS : CLRRTS);
}

void TVaCustomComm::SetBreak(bool Value)
{
    EscapeFunction(Value ? SETBREAK : CLRBREAK);
}
void TVaCustomComm::SetXon(bool Value)
{
    EscapeFunction(Value ? SETXON : SETXOFF);
}
void TVaCustomComm::ResetDev()
{
    EscapeFunction(RESETDEV);
}

bool TVaCustomComm::GetModemLine(quint32 Bit)
{
    if (!Active())
        return false;
    int bits = 0;
    CheckCommResult(FDevice->GetModemLines(bits),
                    QStringLiteral("Error reading modem state (%d), %s"));
    quint32 ms = 0;
    if (bits & TIOCM_CTS)
        ms |= MS_CTS_ON;
    if (bits & TIOCM_DSR)
        ms |= MS_DSR_ON;
    if (bits & TIOCM_RI)
        ms |= MS_RING_ON;
    if (bits & TIOCM_CD)
        ms |= MS_RLSD_ON;
    return ms & Bit;
}

bool TVaCustomComm::GetHoldFlag(quint32 Bit)
{
    if (!Active())
        return false;
    TVaCommStatus s;
    GetStatus(s);
    return s.Flags & Bit;
}

TVaCommProp TVaCustomComm::Properties()
{
    std::memset(&FProperties, 0, sizeof FProperties);
    if (!Active())
        throw EVaCommError(QStringLiteral("Can't perform this operation while port is closed"));
    TVaTermios t;
    CheckCommResult(FDevice->GetAttr(t), QStringLiteral("Error reading port properties (%d), %s"));
    TVaCommProp &p = FProperties;
    p.wPacketLength = sizeof(TVaCommProp);
    p.wPacketVersion = 2;
    p.dwServiceMask = 0x1;    // SP_SERIALCOMM
    p.dwMaxBaud = 0x10000000; // BAUD_USER: any rate through BOTHER
    p.dwProvSubType = 0x1;    // PST_RS232
    // RTS/CTS, parity check, XON/XOFF, settable XON/XOFF characters, special characters.
    p.dwProvCapabilities = 0x0002 | 0x0008 | 0x0010 | 0x0020 | 0x0100;
    // Parity, baud, data bits, stop bits, handshaking, parity check.
    p.dwSettableParams = 0x0001 | 0x0002 | 0x0004 | 0x0008 | 0x0010 | 0x0020;
    p.dwSettableBaud = 0x1 | 0x4 | 0x8 | 0x10 | 0x40 | 0x100 | 0x200 | 0x400 | 0x800 | 0x1000 |
                       0x2000 | 0x4000 | 0x8000 | 0x20000 | 0x40000 | 0x10000000;
    p.wSettableData = 0x0001 | 0x0002 | 0x0004 | 0x0008; // 5, 6, 7, 8 data bits
    // 1, 1.5, 2 stop bits; no, odd, even, mark, space parity.
    p.wSettableStopParity = 0x0001 | 0x0002 | 0x0004 | 0x0100 | 0x0200 | 0x0400 | 0x0800 | 0x1000;
    p.dwCurrentTxQueue = quint32(FDeviceOutQueue);
    p.dwCurrentRxQueue = quint32(FDeviceInQueue);
    return p;
}

void TVaCustomComm::ResetPortParameters()
{
    // Linux keeps no per-device default configuration apart from the device: its current
    // settings stand for it (read without taking the port when it is not ours).
    TVaTermios t;
    int e;
    if (Active()) {
        e = FDevice->GetAttr(t);
    } else {
        e = FDevice->Open(QFile::encodeName(GetDevicePath()), false);
        if (e == 0) {
            e = FDevice->GetAttr(t);
            FDevice->Close();
        }
    }
    if (e != 0)
        throw EVaCommError(QStringLiteral("Error reading default port parameters."), e);
    ReadDCB(TermiosToDCB(t));
}

void TVaCustomComm::ReadDCB(const TVaDCB &Dcb)
{
    FBaudrate = brUser;
    FUserBaudrate = qint32(Dcb.BaudRate);
    for (int b = br110; b <= br256000; ++b)
        if (quint32(VaBaudrateValue(TVaBaudrate(b))) == Dcb.BaudRate) {
            FBaudrate = TVaBaudrate(b);
            FUserBaudrate = 0;
            break;
        }
    FParity = Dcb.Parity <= paSpace ? TVaParity(Dcb.Parity) : paNone;
    FDatabits = Dcb.ByteSize >= 4 && Dcb.ByteSize <= 8 ? TVaDatabits(Dcb.ByteSize - 4) : db8;
    FStopbits = Dcb.StopBits <= sb2 ? TVaStopbits(Dcb.StopBits) : sb1;
    const quint32 f = Dcb.Flags;
    const quint32 dtr = (f >> DCB_DTRCONTROL_SHIFT) & 3;
    FFlowControl->setControlDtr(dtr <= 2 ? TVaControlDtr(dtr) : dtrDisabled);
    FFlowControl->setControlRts(TVaControlRts((f >> DCB_RTSCONTROL_SHIFT) & 3));
    FFlowControl->setOutCtsFlow(f & DCB_OUTXCTSFLOW);
    FFlowControl->setOutDsrFlow(f & DCB_OUTXDSRFLOW);
    FFlowControl->setXonXoffOut(f & DCB_OUTX);
    FFlowControl->setXonXoffIn(f & DCB_INX);
    FFlowControl->setDsrSensitivity(f & DCB_DSRSENSITIVITY);
    FFlowControl->setTxContinueOnXoff(f & DCB_TXCONTINUEONXOFF);
    FEventChars->SetEventChar(1, Dcb.XonChar);
    FEventChars->SetEventChar(2, Dcb.XoffChar);
    FEventChars->SetEventChar(3, Dcb.ErrorChar);
    FEventChars->SetEventChar(4, Dcb.EvtChar);
    FEventChars->SetEventChar(5, Dcb.EofChar);
    FBuffers->setXonLimit(Dcb.XonLim);
    FBuffers->setXoffLimit(Dcb.XoffLim);
    TVaCommOptions o = 0;
    if (f & DCB_ERRORCHAR)
        o |= vaOption(coErrorChar);
    if (f & DCB_NULL)
        o |= vaOption(coNullStrip);
    if (f & DCB_PARITY)
        o |= vaOption(coParityCheck);
    FOptions = o;
}
