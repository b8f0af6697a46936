// The port: construction, errors, and the setters of its settings (line settings reach an open
// device at once).

#include "vacomm.h"

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
