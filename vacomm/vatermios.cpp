#include "vatermios.h"

#include "vacomm.h"

#include <cerrno>
#include <termios.h>

namespace
{

// termios2's "rate in c_ispeed/c_ospeed" code (<termios.h> does not define it).
constexpr quint32 kBOTHER = 0010000;

struct SpeedCode {
    quint32 rate;
    quint32 code;
};
const SpeedCode kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000}};

} // namespace

void VaSetRawMode(TVaTermios &T)
{
    T.c_iflag &= ~quint32(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY |
                          IGNPAR | IUCLC | IMAXBEL);
    T.c_oflag &= ~quint32(OPOST);
    T.c_lflag &= ~quint32(ECHO | ECHONL | ICANON | ISIG | IEXTEN | ECHOE | ECHOK | ECHOCTL |
                          ECHOKE | ECHOPRT | XCASE | TOSTOP | FLUSHO | PENDIN | NOFLSH);
    T.c_cflag |= CREAD | CLOCAL;
}

bool VaSetBaudRate(TVaTermios &T, quint32 Rate)
{
    if (Rate == 0 || Rate > 0x7FFFFFFF)
        return false;
    quint32 code = kBOTHER;
    for (const SpeedCode &s : kSpeeds)
        if (s.rate == Rate)
            code = s.code;
    T.c_cflag = (T.c_cflag & ~quint32(CBAUD | CIBAUD)) | code;
    T.c_ispeed = Rate;
    T.c_ospeed = Rate;
    return true;
}

quint32 VaBaudRateOf(const TVaTermios &T)
{
    const quint32 code = T.c_cflag & CBAUD;
    for (const SpeedCode &s : kSpeeds)
        if (s.code == code)
            return s.rate;
    return T.c_ospeed;
}

bool VaSetDataBits(TVaTermios &T, quint8 DataBits)
{
    static const quint32 sizes[] = {CS5, CS6, CS7, CS8};
    if (DataBits < 5 || DataBits > 8)
        return false;
    T.c_cflag = (T.c_cflag & ~quint32(CSIZE)) | sizes[DataBits - 5];
    return true;
}

quint8 VaDataBitsOf(const TVaTermios &T)
{
    switch (T.c_cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

bool VaSetParity(TVaTermios &T, quint8 Parity)
{
    static const quint32 bits[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD,
                                   PARENB | CMSPAR};
    if (Parity > 4)
        return false;
    T.c_cflag = (T.c_cflag & ~quint32(PARENB | PARODD | CMSPAR)) | bits[Parity];
    return true;
}

quint8 VaParityOf(const TVaTermios &T)
{
    const bool odd = T.c_cflag & PARODD;
    if (!(T.c_cflag & PARENB))
        return 0;
    if (T.c_cflag & CMSPAR)
        return odd ? 3 : 4;
    return odd ? 1 : 2;
}

void VaSetParityCheck(TVaTermios &T, bool Check)
{
    T.c_iflag = Check ? T.c_iflag | INPCK : T.c_iflag & ~quint32(INPCK);
}

bool VaParityCheckOf(const TVaTermios &T)
{
    return T.c_iflag & INPCK;
}

bool VaSetStopBits(TVaTermios &T, quint8 StopBits)
{
    if (StopBits > 2 || (StopBits == 1 && VaDataBitsOf(T) != 5))
        return false;
    T.c_cflag = StopBits != 0 ? T.c_cflag | CSTOPB : T.c_cflag & ~quint32(CSTOPB);
    return true;
}

quint8 VaStopBitsOf(const TVaTermios &T)
{
    if (!(T.c_cflag & CSTOPB))
        return 0;
    return VaDataBitsOf(T) == 5 ? 1 : 2;
}

void VaSetFlowControl(TVaTermios &T, quint32 DcbFlags)
{
    const quint32 rts = (DcbFlags >> DCB_RTSCONTROL_SHIFT) & 3;
    T.c_cflag &= ~quint32(CRTSCTS);
    T.c_iflag &= ~quint32(IXON | IXOFF);
    if ((DcbFlags & DCB_OUTXCTSFLOW) || rts == 2)
        T.c_cflag |= CRTSCTS;
    if (DcbFlags & DCB_OUTX)
        T.c_iflag |= IXON;
    if (DcbFlags & DCB_INX)
        T.c_iflag |= IXOFF;
}

quint32 VaFlowControlOf(const TVaTermios &T)
{
    quint32 f = 1u << DCB_DTRCONTROL_SHIFT;
    if (T.c_cflag & CRTSCTS)
        f |= DCB_OUTXCTSFLOW | (2u << DCB_RTSCONTROL_SHIFT);
    else
        f |= 1u << DCB_RTSCONTROL_SHIFT;
    if (T.c_iflag & IXON)
        f |= DCB_OUTX;
    if (T.c_iflag & IXOFF)
        f |= DCB_INX;
    return f;
}

void VaSetSpecialChars(TVaTermios &T, const TVaDCB &Dcb)
{
    T.c_cc[VSTART] = quint8(Dcb.XonChar);
    T.c_cc[VSTOP] = quint8(Dcb.XoffChar);
    T.c_cc[VEOF] = quint8(Dcb.EofChar);
}

void VaGetSpecialChars(const TVaTermios &T, TVaDCB &Dcb)
{
    Dcb.XonChar = char(T.c_cc[VSTART]);
    Dcb.XoffChar = char(T.c_cc[VSTOP]);
    Dcb.EofChar = char(T.c_cc[VEOF]);
}

// ---------------------------------------------------------------- the whole control block

int TVaCustomComm::DCBToTermios(const TVaDCB &Dcb, TVaTermios &T)
{
    // On a copy: a value no tty takes leaves T untouched.
    TVaTermios t = T;
    VaSetRawMode(t);
    if (!VaSetBaudRate(t, Dcb.BaudRate) || !VaSetDataBits(t, Dcb.ByteSize) ||
        !VaSetParity(t, Dcb.Parity) || !VaSetStopBits(t, Dcb.StopBits))
        return EINVAL;
    VaSetParityCheck(t, Dcb.Flags & DCB_PARITY);
    VaSetFlowControl(t, Dcb.Flags);
    VaSetSpecialChars(t, Dcb);
    T = t;
    return 0;
}

TVaDCB TVaCustomComm::TermiosToDCB(const TVaTermios &T)
{
    TVaDCB d;
    d.BaudRate = VaBaudRateOf(T);
    d.ByteSize = VaDataBitsOf(T);
    d.Parity = VaParityOf(T);
    d.StopBits = VaStopBitsOf(T);
    d.Flags = DCB_BINARY | VaFlowControlOf(T) | (VaParityCheckOf(T) ? quint32(DCB_PARITY) : 0u);
    VaGetSpecialChars(T, d);
    // The line discipline sends XON when fewer than 128 bytes wait and XOFF when fewer than 128
    // bytes of room are left.
    d.XonLim = 128;
    d.XoffLim = 128;
    return d;
}
