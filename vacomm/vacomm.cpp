#include "vacomm.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>

namespace
{

constexpr quint32 kBOTHER = 0010000;
constexpr quint32 kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;

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

// One snapshot difference of the driver's counters.
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

// ---------------------------------------------------------------- value helpers (VaTypes)

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

// ---------------------------------------------------------------- dispatcher

TVaDispatcher::TVaDispatcher(std::shared_ptr<IVaCommUser> AOwner) : FOwner(std::move(AOwner)) {}

TVaDispatcher::~TVaDispatcher()
{
    if (FComm)
        FComm->RemoveClient(this);
}

qint32 TVaDispatcher::WriteBuf(const char *Buf, qint32 Count)
{
    return FComm ? FComm->WriteBuf(Buf, Count) : 0;
}
bool TVaDispatcher::WriteText(const QByteArray &s)
{
    return FComm && FComm->WriteText(s);
}
bool TVaDispatcher::WriteChar(char Ch)
{
    return FComm && FComm->WriteChar(Ch);
}
void TVaDispatcher::PurgeRead()
{
    if (FComm)
        FComm->PurgeRead();
}
void TVaDispatcher::PurgeWrite()
{
    if (FComm)
        FComm->PurgeWrite();
}
void TVaDispatcher::PurgeReadWrite()
{
    if (FComm)
        FComm->PurgeReadWrite();
}
void TVaDispatcher::SetDTRState(bool Value)
{
    if (FComm)
        FComm->SetDTR(Value);
}

// ---------------------------------------------------------------- the port

TVaCustomComm::TVaCustomComm(QObject *AOwner)
    : TVaComponent(AOwner), FDeviceName(QStringLiteral("COM%d")),
      FMonitorEvents(vaEvent(ceError) | vaEvent(ceRxChar) | vaEvent(ceTxEmpty)),
      FBuffers(new TVaBuffers), FFlowControl(new TVaFlowControl), FEventChars(new TVaEventChars),
      FSettingsStore(new TSettingsStore)
{
    FDevice = std::make_unique<TVaPosixDevice>();
    FBuffers->OnChange = [this](TVaPersistent *) { BuffersChanged(); };
    FEventChars->OnChange = [this](TVaPersistent *) { EventCharsChanged(); };
    FFlowControl->OnChange = [this](TVaPersistent *) { FlowControlChanged(); };
}

TVaCustomComm::~TVaCustomComm()
{
    FDestroying = true;
    try {
        Close();
    } catch (...) {
        // A destructor must not throw; the handle is released below anyway.
    }
    if (FActive)
        DestroyHandle();
    RemoveAllClients();
}

void TVaCustomComm::setDevice(std::unique_ptr<TVaDevice> Device)
{
    CheckClosed();
    FDevice = std::move(Device);
}

QString TVaCustomComm::Version() const
{
    const quint32 v = 0x01090100;
    return QStringLiteral("%1.%2.%3.%4")
        .arg(v >> 24)
        .arg((v >> 16) & 0xFF)
        .arg((v >> 8) & 0xFF)
        .arg(v & 0xFF);
}

int TVaCustomComm::Handle() const
{
    return FActive ? FDevice->Descriptor() : -1;
}

// ---------------------------------------------------------------- errors

void TVaCustomComm::RaiseCommError(const QString &Msg, int E)
{
    throw EVaCommError(VaFormat(Msg, {E, VaSysErrorText(E)}), E);
}

void TVaCustomComm::CheckCommResult(int E, const QString &Msg)
{
    if (E != 0)
        RaiseCommError(Msg, E);
}

void TVaCustomComm::CheckClosed()
{
    if (Active())
        throw EVaCommError(QStringLiteral("Can't perform this operation while port is open"));
}

// ---------------------------------------------------------------- settings

void TVaCustomComm::setBaudrate(TVaBaudrate Value)
{
    if (Value == FBaudrate)
        return;
    FBaudrate = Value;
    if (Value != brUser)
        FUserBaudrate = 0;
    ApplyDCB();
}

void TVaCustomComm::setUserBaudrate(qint32 Value)
{
    if (Value == FUserBaudrate)
        return;
    FUserBaudrate = Value;
    FBaudrate = brUser;
    ApplyDCB();
}

void TVaCustomComm::setParity(TVaParity Value)
{
    if (Value == FParity)
        return;
    FParity = Value;
    ApplyDCB();
}

void TVaCustomComm::setDatabits(TVaDatabits Value)
{
    if (Value == FDatabits)
        return;
    FDatabits = Value;
    ApplyDCB();
}

void TVaCustomComm::setStopbits(TVaStopbits Value)
{
    if (Value == FStopbits)
        return;
    FStopbits = Value;
    ApplyDCB();
}

void TVaCustomComm::setOptions(TVaCommOptions Value)
{
    if (Value == FOptions)
        return;
    FOptions = Value;
    ApplyDCB();
}

void TVaCustomComm::setPortNum(TVaPortInt Value)
{
    CheckClosed();
    FPortNum = Value;
}

void TVaCustomComm::setDeviceName(const QString &Value)
{
    CheckClosed();
    FDeviceName = Value;
}

void TVaCustomComm::setMonitorEvents(TVaCommEvents Value)
{
    CheckClosed();
    FMonitorEvents = Value;
}

void TVaCustomComm::setBuffers(const TVaBuffers &Value)
{
    CheckClosed();
    FBuffers->Assign(Value);
}

void TVaCustomComm::setEventPriority(TThreadPriority Value)
{
    if (Value == FEventPriority)
        return;
    FEventPriority = Value;
    if (FEventThread)
        FEventThread->setPriority(Value);
}

void TVaCustomComm::setWritePriority(TThreadPriority Value)
{
    if (Value == FWritePriority)
        return;
    FWritePriority = Value;
    if (FWriteThread)
        FWriteThread->setPriority(Value);
}

void TVaCustomComm::setDirectWrite(bool Value)
{
    CheckClosed();
    FDirectWrite = Value;
}

void TVaCustomComm::setUpdateDCB(bool Value)
{
    CheckClosed();
    FUpdateDCB = Value;
}

void TVaCustomComm::BuffersChanged()
{
    CheckClosed();
    ApplyBufferSizes();
    ApplyDCB();
}

void TVaCustomComm::EventCharsChanged()
{
    ApplyDCB();
}
void TVaCustomComm::FlowControlChanged()
{
    ApplyDCB();
}

// ---------------------------------------------------------------- device configuration

QString TVaCustomComm::GetDevicePath() const
{
    const QString name = VaFormat(FDeviceName, {FPortNum});
    if (name.contains(QLatin1Char('/')))
        return name;
    return QStringLiteral("/dev/") + name;
}

int TVaCustomComm::DCBToTermios(const TVaDCB &Dcb, TVaTermios &T)
{
    if (Dcb.ByteSize < 5 || Dcb.ByteSize > 8 || Dcb.Parity > 4 || Dcb.StopBits > 2 ||
        Dcb.BaudRate == 0 || Dcb.BaudRate > 0x7FFFFFFF)
        return EINVAL;
    if (Dcb.StopBits == 1 && Dcb.ByteSize != 5)
        return EINVAL; // 1.5 stop bits exist only with 5 data bits (CSTOPB does it there)
    // Raw mode: bytes pass unchanged, no echo, no signals, no line editing.
    T.c_iflag &= ~quint32(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                          IXANY | INPCK | IGNPAR | IUCLC | IMAXBEL);
    T.c_oflag &= ~quint32(OPOST);
    T.c_lflag &= ~quint32(ECHO | ECHONL | ICANON | ISIG | IEXTEN | ECHOE | ECHOK | ECHOCTL |
                          ECHOKE | ECHOPRT | XCASE | TOSTOP | FLUSHO | PENDIN | NOFLSH);
    T.c_cflag &= ~quint32(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | CIBAUD);
    T.c_cflag |= CREAD | CLOCAL;
    static const quint32 sizes[] = {CS5, CS6, CS7, CS8};
    T.c_cflag |= sizes[Dcb.ByteSize - 5];
    switch (Dcb.Parity) {
    case 1:
        T.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        T.c_cflag |= PARENB;
        break;
    case 3:
        T.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case 4:
        T.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    if (Dcb.StopBits != 0)
        T.c_cflag |= CSTOPB;
    const quint32 rts = (Dcb.Flags >> DCB_RTSCONTROL_SHIFT) & 3;
    if ((Dcb.Flags & DCB_OUTXCTSFLOW) || rts == 2)
        T.c_cflag |= CRTSCTS;
    if (Dcb.Flags & DCB_PARITY)
        T.c_iflag |= INPCK;
    if (Dcb.Flags & DCB_OUTX)
        T.c_iflag |= IXON;
    if (Dcb.Flags & DCB_INX)
        T.c_iflag |= IXOFF;
    quint32 code = kBOTHER;
    for (const SpeedCode &s : kSpeeds)
        if (s.rate == Dcb.BaudRate)
            code = s.code;
    T.c_cflag |= code;
    T.c_ispeed = Dcb.BaudRate;
    T.c_ospeed = Dcb.BaudRate;
    T.c_cc[VSTART] = quint8(Dcb.XonChar);
    T.c_cc[VSTOP] = quint8(Dcb.XoffChar);
    T.c_cc[VEOF] = quint8(Dcb.EofChar);
    return 0;
}

TVaDCB TVaCustomComm::TermiosToDCB(const TVaTermios &T)
{
    TVaDCB d;
    const quint32 code = T.c_cflag & CBAUD;
    d.BaudRate = T.c_ospeed;
    for (const SpeedCode &s : kSpeeds)
        if (s.code == code)
            d.BaudRate = s.rate;
    switch (T.c_cflag & CSIZE) {
    case CS5:
        d.ByteSize = 5;
        break;
    case CS6:
        d.ByteSize = 6;
        break;
    case CS7:
        d.ByteSize = 7;
        break;
    default:
        d.ByteSize = 8;
        break;
    }
    if (!(T.c_cflag & PARENB))
        d.Parity = 0;
    else if (T.c_cflag & CMSPAR)
        d.Parity = (T.c_cflag & PARODD) ? 3 : 4;
    else
        d.Parity = (T.c_cflag & PARODD) ? 1 : 2;
    d.StopBits = (T.c_cflag & CSTOPB) ? (d.ByteSize == 5 ? 1 : 2) : 0;
    // Linux raises DTR and RTS when a tty is opened; CRTSCTS is CTS output flow plus RTS input
    // handshake in one.
    d.Flags = DCB_BINARY | (1u << DCB_DTRCONTROL_SHIFT);
    if (T.c_cflag & CRTSCTS)
        d.Flags |= DCB_OUTXCTSFLOW | (2u << DCB_RTSCONTROL_SHIFT);
    else
        d.Flags |= 1u << DCB_RTSCONTROL_SHIFT;
    if (T.c_iflag & INPCK)
        d.Flags |= DCB_PARITY;
    if (T.c_iflag & IXON)
        d.Flags |= DCB_OUTX;
    if (T.c_iflag & IXOFF)
        d.Flags |= DCB_INX;
    d.XonChar = char(T.c_cc[VSTART]);
    d.XoffChar = char(T.c_cc[VSTOP]);
    d.EofChar = char(T.c_cc[VEOF]);
    // The line discipline sends XON when fewer than 128 bytes wait and XOFF when fewer than 128
    // bytes of room are left.
    d.XonLim = 128;
    d.XoffLim = 128;
    return d;
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

// ---------------------------------------------------------------- open and close

void TVaCustomComm::CreateHandle()
{
    const QString path = GetDevicePath();
    const int e = FDevice->Open(QFile::encodeName(path), true);
    if (e == 0) {
        FActive = true;
        return;
    }
    // The path is put in first; its own '%' signs must survive the second formatting.
    QString escaped = path;
    escaped.replace(QLatin1Char('%'), QLatin1String("%%"));
    if (e == ENOENT)
        RaiseCommError(VaFormat(QStringLiteral("Specified device not found (%s)."), {escaped}), e);
    RaiseCommError(VaFormat(QStringLiteral("Can't open specified device %s"), {escaped}) +
                       QStringLiteral(" (Error %d, %s)"),
                   e);
}

void TVaCustomComm::DestroyHandle()
{
    FDevice->Close();
    FActive = false;
    FDeviceDCBValid = false;
    FOutputSuspended = false;
    FDeviceLost = false;
    FPendingErrors = 0;
    FStatusCountersValid = false;
    FTxPending = false;
}

void TVaCustomComm::Open()
{
    CheckClosed();
    CreateHandle();
    try {
        ApplyDCB();
        ApplyBufferSizes();
        ApplyTimeouts();
        ApplyEventMask();
        {
            // Baselines, so that only what happens from now on counts as an event or error.
            std::lock_guard<TVaCriticalSection> g(FGlobalSection);
            TVaLineCounters c;
            FStatusCountersValid = FDevice->GetCounters(c) == 0;
            FStatusCounters = c;
        }
        StartThreads();
    } catch (...) {
        DestroyHandle();
        throw;
    }
    DoOpen();
}

void TVaCustomComm::DoOpen()
{
    if (!FOnOpen)
        return;
    try {
        FOnOpen(this);
    } catch (...) {
        VaHandleException(std::current_exception());
    }
}

void TVaCustomComm::Close()
{
    // A handler that Close runs while it waits for the threads may call Close again: the outer
    // call finishes the job.
    if (!Active() || FClosing)
        return;
    FClosing = true;
    // The wait for the threads does not hold the read/status lock: without SyncThreads a
    // handler runs on the event thread and reads under that lock, and would never end.
    StopThreads();
    {
        std::lock_guard<TVaCriticalSection> g(FGlobalSection);
        DestroyHandle();
    }
    FClosing = false;
    DoClose();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

void TVaCustomComm::DoClose()
{
    if (FOnClose && !FDestroying)
        FOnClose(this);
}

void TVaCustomComm::Loaded()
{
    if (FAutoOpen && !Active())
        Open();
}

void TVaCustomComm::StartThreads()
{
    FSync.Prepare();
    try {
        if (FEventMask != 0) {
            // Before the thread starts: changes from the moment Open returns count.
            PrimeEventSnapshots();
            FEventThread = new TVaCommEventThread(this);
            FEventThread->setPriority(FEventPriority);
            FEventThread->setSync(FSyncThreads);
            StartThread(*FEventThread);
        }
        if (!FDirectWrite) {
            FWriteThread = new TVaCommWriteThread(this, FBuffers->WriteSize());
            FWriteThread->setPriority(FWritePriority);
            FWriteThread->setSync(FSyncThreads);
            StartThread(*FWriteThread);
        }
    } catch (const std::system_error &e) {
        // The thread that did start must not outlive the handle that Open now closes.
        StopThreads();
        RaiseCommError(QStringLiteral("Error creating thread (%d), %s"), e.code().value());
    }
}

void TVaCustomComm::StopThreads()
{
    if (FEventThread) {
        FEventThread->Stop();
        FSync.Wake();
        FSync.WaitUntil([this] { return FEventThread->Finished(); });
        FEventThread->WaitFor();
        delete FEventThread;
        FEventThread = nullptr;
    }
    if (FWriteThread) {
        FWriteThread->Stop();
        FSync.Wake();
        FSync.WaitUntil([this] { return FWriteThread->Finished(); });
        FWriteThread->WaitFor();
        delete FWriteThread;
        FWriteThread = nullptr;
    }
    // Reports the write thread queued and nobody ran yet run now, before Close returns.
    FSync.RunPending();
}

// ---------------------------------------------------------------- lines and status

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

// ---------------------------------------------------------------- saved settings

QString TVaCustomComm::settingsFile(QString &Section)
{
    TSettingsStore &s = *FSettingsStore;
    if (s.Location() == slINIFile) {
        if (s.Key().isEmpty()) {
            const QFileInfo exe(QCoreApplication::applicationFilePath());
            s.setKey(exe.absolutePath() + QLatin1Char('/') +
                     (exe.suffix().isEmpty() ? exe.fileName() : exe.completeBaseName()) +
                     QStringLiteral(".INI"));
        }
        if (s.Section().isEmpty())
            s.setSection(Name());
        Section = s.Section();
        return s.Key();
    }
    Section = (s.RegRoot() == rrCURRENTUSER ? QStringLiteral("HKEY_CURRENT_USER")
                                            : QStringLiteral("HKEY_LOCAL_MACHINE")) +
              QLatin1Char('\\') + s.Key() + QLatin1Char('\\') + s.Section();
    return VaRegistryFileName();
}

void TVaCustomComm::SaveSettings()
{
    QString section;
    const QString file = settingsFile(section);
    TVaIniFile ini(file);
    int flow = 0;
    if (FFlowControl->XonXoffOut() || FFlowControl->XonXoffIn())
        flow = 2;
    if (FFlowControl->ControlDtr() == dtrEnabled || FFlowControl->ControlRts() == rtsEnabled)
        flow = 1;
    const bool ok = ini.WriteInteger(section, QStringLiteral("BAUDRATE"), FBaudrate) &&
                    ini.WriteInteger(section, QStringLiteral("PARITY"), FParity) &&
                    ini.WriteInteger(section, QStringLiteral("DATABITS"), FDatabits) &&
                    ini.WriteInteger(section, QStringLiteral("PORTNUM"), FPortNum) &&
                    ini.WriteInteger(section, QStringLiteral("STOPBITS"), FStopbits) &&
                    ini.WriteString(section, QStringLiteral("COMNAME"),
                                    QStringLiteral("COM") + QString::number(FPortNum)) &&
                    ini.WriteInteger(section, QStringLiteral("FLOWCONTROL"), flow) &&
                    ini.WriteInteger(section, QStringLiteral("FLAG"), 1);
    if (!ok)
        throw EVaCommError(QStringLiteral("Can't write settings file %1").arg(file));
}

bool TVaCustomComm::LoadSettings()
{
    QString section;
    TVaIniFile ini(settingsFile(section));
    if (ini.ReadInteger(section, QStringLiteral("FLAG"), 0) != 1)
        return false;
    // A stored ordinal outside its enumeration leaves that setting as it is.
    const qint32 baud = ini.ReadInteger(section, QStringLiteral("BAUDRATE"), 0);
    if (baud >= brUser && baud <= br256000)
        setBaudrate(TVaBaudrate(baud));
    const qint32 parity = ini.ReadInteger(section, QStringLiteral("PARITY"), 0);
    if (parity >= paNone && parity <= paSpace)
        setParity(TVaParity(parity));
    const qint32 bits = ini.ReadInteger(section, QStringLiteral("DATABITS"), 0);
    if (bits >= db4 && bits <= db8)
        setDatabits(TVaDatabits(bits));
    const qint32 port = ini.ReadInteger(section, QStringLiteral("PORTNUM"), 0);
    if (port >= 0)
        setPortNum(port);
    const qint32 stop = ini.ReadInteger(section, QStringLiteral("STOPBITS"), 0);
    if (stop >= sb1 && stop <= sb2)
        setStopbits(TVaStopbits(stop));
    const qint32 flow = ini.ReadInteger(section, QStringLiteral("FLOWCONTROL"), 0);
    if (flow >= 0 && flow <= 2) {
        FFlowControl->setControlDtr(flow == 1 ? dtrEnabled : dtrDisabled);
        FFlowControl->setControlRts(flow == 1 ? rtsEnabled : rtsDisabled);
        FFlowControl->setXonXoffOut(flow == 2);
        FFlowControl->setXonXoffIn(flow == 2);
    }
    return true;
}

namespace
{
// "ttyUSB10" after "ttyUSB9".
bool naturalLess(const QString &a, const QString &b)
{
    auto split = [](const QString &s) {
        int i = s.size();
        while (i > 0 && s.at(i - 1).isDigit())
            --i;
        return std::make_pair(s.left(i), s.mid(i).toLongLong());
    };
    return split(a) < split(b);
}
} // namespace

QStringList TVaCustomComm::ListSerialPorts(const QString &SysClassTty)
{
    QDir dir(SysClassTty);
    QStringList uarts, others;
    const QStringList names = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString &name : names) {
        const QString entry = dir.filePath(name);
        // Virtual terminals, ptys and the console have no device behind them.
        if (!QFileInfo::exists(entry + QStringLiteral("/device")))
            continue;
        QFile type(entry + QStringLiteral("/type"));
        if (type.open(QIODevice::ReadOnly)) {
            // A UART slot of the serial core: type 0 means no UART was found there.
            if (type.readAll().trimmed() == "0")
                continue;
            uarts.append(name);
        } else {
            others.append(name);
        }
    }
    std::sort(uarts.begin(), uarts.end(), naturalLess);
    std::sort(others.begin(), others.end(), naturalLess);
    QStringList result = uarts;
    for (const QString &o : others)
        if (!result.contains(o))
            result.append(o);
    return result;
}

void TVaCustomComm::GetComPortNames(QStringList &Value)
{
    Value.clear();
    Value.append(ListSerialPorts(QStringLiteral("/sys/class/tty")));
}

// ---------------------------------------------------------------- receive

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

// ---------------------------------------------------------------- dispatchers

void TVaCustomComm::InsertClient(TVaDispatcher *Value)
{
    Value->FComm = this;
    FClients.append(Value);
}

void TVaCustomComm::RemoveClient(TVaDispatcher *Value)
{
    const int i = FClients.indexOf(Value);
    if (i < 0)
        return;
    Value->FComm = nullptr;
    FClients.removeAt(i);
}

void TVaCustomComm::RemoveAllClients()
{
    while (!FClients.isEmpty())
        RemoveClient(FClients.last());
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

// ---------------------------------------------------------------- write

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
