#pragma once

// TVaComm: a serial port component for Qt programs (Qt Core only).
//
// Settings are properties with Qt-style accessors (Baudrate() / setBaudrate()); the settings
// sub-objects (FlowControl(), EventChars(), Buffers()) are changed in place or copied with their
// setters. While the port is open, changes of the line settings reach the device at once.
//
// Events are std::function callbacks (setOnRxChar(...), ...). With SyncThreads on (the default)
// they run on the thread that opened the port (normally the GUI thread): the event thread hands
// each batch over and waits until the handlers have returned; the write thread queues its
// reports (OnTxEmpty, write errors) without waiting. The owner's thread runs them whenever it
// processes Qt events (nested loops too) and while Close waits for the threads, so a handler
// may run inside another handler's event loop. Without SyncThreads they run on the threads.
// Exceptions thrown by handlers go to the exception handler set with VaSetExceptionHandler.
//
// Errors are EVaCommError exceptions (std::runtime_error, UTF-8 what()).
//
// Threads: call everything from the owner's thread. A background event thread per open port
// waits (epoll) on the descriptor and a stop signal; a write thread drains the write queue.
//
// Device names: DeviceName is formatted with PortNum ("COM%d" -> "COM7"); a name without "/" is
// a device node under "/dev/" ("ttyUSB0" -> "/dev/ttyUSB0"), a name with "/" is used as it is
// (a pty or socat link path).

#include "vaclasses.h"
#include "vadevice.h"
#include "vadisplay.h"
#include "vaobjects.h"
#include "vaprst.h"
#include "vatypes.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

class TVaCustomComm;

// The component's only exception class.
class EVaCommError : public std::runtime_error
{
public:
    explicit EVaCommError(const QString &Msg, int ErrorCode = 0)
        : std::runtime_error(Msg.toStdString()), FMessage(Msg), FErrorCode(ErrorCode)
    {
    }
    QString Message() const { return FMessage; }
    // The operating-system error number behind it, 0 when none.
    int ErrorCode() const { return FErrorCode; }

private:
    QString FMessage;
    int FErrorCode;
};

// A client that shares a port through a TVaDispatcher.
class IVaCommUser
{
public:
    virtual ~IVaCommUser() = default;
    virtual void CommEvent(quint32 EventMask) = 0;
    virtual void CommData(PVaData Data, qint32 Count) = 0;
};

// One client's attachment to a port; holds a counted reference to its owner.
class TVaDispatcher
{
public:
    explicit TVaDispatcher(std::shared_ptr<IVaCommUser> AOwner);
    ~TVaDispatcher();
    TVaDispatcher(const TVaDispatcher &) = delete;
    TVaDispatcher &operator=(const TVaDispatcher &) = delete;

    bool Active() const { return FActive; }
    void setActive(bool Value) { FActive = Value; }
    TVaCustomComm *Comm() const { return FComm; }
    IVaCommUser *Owner() const { return FOwner.get(); }

    qint32 WriteBuf(const char *Buf, qint32 Count);
    bool WriteText(const QByteArray &s);
    bool WriteChar(char Ch);
    void PurgeRead();
    void PurgeWrite();
    void PurgeReadWrite();
    void SetDTRState(bool Value);

private:
    friend class TVaCustomComm;
    bool FActive = true;
    TVaCustomComm *FComm = nullptr;
    std::shared_ptr<IVaCommUser> FOwner;
};

// A background thread of the port. Created, then started (its priority is applied first thing
// on the new thread), then terminated and waited for by the port.
class TVaThread
{
public:
    virtual ~TVaThread();
    void Start();
    void Terminate() { FTerminated = true; }
    bool Terminated() const { return FTerminated; }
    // A thread that never started counts as finished.
    bool Finished() const { return FFinished || !FThread.joinable(); }
    void WaitFor();
    TThreadPriority Priority() const { return FPriority; }
    void setPriority(TThreadPriority Value);
    const std::atomic<bool> &TerminatedFlag() const { return FTerminated; }

protected:
    explicit TVaThread(TVaCustomComm *Owner) : FOwner(Owner) {}
    virtual void Execute() = 0;
    TVaCustomComm *FOwner;

private:
    void applyPriority();
    std::thread FThread;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::atomic<int> FTid{0};
    std::atomic<TThreadPriority> FPriority{tpNormal};
};

// Waits for device events and hands each batch to the port's DispatchEvents.
class TVaCommEventThread : public TVaThread
{
public:
    explicit TVaCommEventThread(TVaCustomComm *Owner) : TVaThread(Owner) {}
    bool Sync() const { return FSync; }
    void setSync(bool Value) { FSync = Value; }
    // The stop request (also wakes the wait).
    void Stop();
    TVaWaitEvent &Event() { return FEvent; }

protected:
    void Execute() override;

private:
    quint32 FEvtMask = 0;
    TVaWaitEvent FEvent;
    bool FSync = true;
};

// Drains the write queue into the device.
class TVaCommWriteThread : public TVaThread
{
public:
    TVaCommWriteThread(TVaCustomComm *Owner, qint32 BufSize);
    bool Sync() const { return FSync; }
    void setSync(bool Value) { FSync = Value; }
    TVaCommBuffer &Buffer() { return FBuffer; }

    // On the caller's thread: queue Count bytes, waiting up to WriteTimeout for room.
    bool WriteData(const char *Buf, qint32 Count);
    // Flush hand-shake with the thread: true when it acknowledged within 2000 ms (the queue has
    // then been emptied).
    bool PurgeWrite();
    // The stop request.
    void Stop();

protected:
    void Execute() override;

private:
    enum Wake { wkClose, wkFlush, wkWrite, wkCleared, wkDevice, wkTimeout };
    // Waits for the first of close, flush, [write], [queue cleared] and [device writable];
    // timeout -1 = none.
    Wake WaitFirst(bool Write, int DeviceFd, int Timeout, short *DeviceEvents = nullptr);
    void AcknowledgeFlush();
    void WriteDone(qint32 Count, quint64 Generation);
    void NotifyTxEmpty();
    void NotifyWriteError();

    TVaCommBuffer FBuffer;
    TVaWaitEvent FWriteEvent;
    TVaWaitEvent FCloseEvent;
    TVaWaitEvent FFlushEvent;
    TVaWaitEvent FFlushDoneEvent;
    TVaWaitEvent FOverlappedEvent;
    // Set by a purge that emptied the queue: a write waiting for the device gives up its bytes.
    TVaWaitEvent FClearedEvent;
    bool FSync = true;
    // Bumped by every purge, so that the end of a write taken from the queue before the purge
    // does not remove bytes queued after it.
    quint64 FGeneration = 0;
    std::mutex FRoomMutex;
    std::condition_variable FRoomCond;
};

// The wait thread of WaitChar: ends when a byte is waiting or when Done is set.
class TWaitThread
{
public:
    explicit TWaitThread(TVaCustomComm *Comm) : FComm(Comm) {}
    ~TWaitThread();
    TVaCustomComm *Comm() const { return FComm; }
    bool Done() const { return FDone; }
    void setDone(bool Value);
    void Start();
    // Waits up to Timeout ms for the end; true when it ended.
    bool WaitEnd(quint32 Timeout) { return FEndEvent.WaitFor(Timeout) == wrSignaled; }

private:
    void Execute();
    TVaCustomComm *FComm;
    std::atomic<bool> FDone{false};
    TVaWaitEvent FDoneEvent;
    TVaWaitEvent FEndEvent;
    std::thread FThread;
};

class TVaCustomComm : public TVaComponent
{
    Q_OBJECT
public:
    explicit TVaCustomComm(QObject *AOwner = nullptr);
    ~TVaCustomComm() override;

    // --- open, close, configuration
    void Open();
    void Close();
    bool Active() const { return FActive; }
    // After the owner has set the stored properties (the form-loading step): opens the port when
    // AutoOpen is set.
    void Loaded();

    bool AutoOpen() const { return FAutoOpen; }
    void setAutoOpen(bool Value) { FAutoOpen = Value; }
    TVaBaudrate Baudrate() const { return FBaudrate; }
    void setBaudrate(TVaBaudrate Value);
    TVaParity Parity() const { return FParity; }
    void setParity(TVaParity Value);
    TVaDatabits Databits() const { return FDatabits; }
    void setDatabits(TVaDatabits Value);
    TVaStopbits Stopbits() const { return FStopbits; }
    void setStopbits(TVaStopbits Value);
    TVaEventChars *EventChars() const { return FEventChars.get(); }
    void setEventChars(const TVaEventChars &Value) { FEventChars->Assign(Value); }
    TVaFlowControl *FlowControl() const { return FFlowControl.get(); }
    void setFlowControl(const TVaFlowControl &Value) { FFlowControl->Assign(Value); }
    TVaCommOptions Options() const { return FOptions; }
    void setOptions(TVaCommOptions Value);
    TVaPortInt PortNum() const { return FPortNum; }
    void setPortNum(TVaPortInt Value);
    QString DeviceName() const { return FDeviceName; }
    void setDeviceName(const QString &Value);
    TVaCommEvents MonitorEvents() const { return FMonitorEvents; }
    void setMonitorEvents(TVaCommEvents Value);
    TVaBuffers *Buffers() const { return FBuffers.get(); }
    void setBuffers(const TVaBuffers &Value);
    TThreadPriority EventPriority() const { return FEventPriority; }
    void setEventPriority(TThreadPriority Value);
    TThreadPriority WritePriority() const { return FWritePriority; }
    void setWritePriority(TThreadPriority Value);
    bool DirectWrite() const { return FDirectWrite; }
    void setDirectWrite(bool Value);
    bool UpdateDCB() const { return FUpdateDCB; }
    void setUpdateDCB(bool Value);
    qint32 UserBaudrate() const { return FUserBaudrate; }
    void setUserBaudrate(qint32 Value);
    TSettingsStore *SettingsStore() const { return FSettingsStore.get(); }
    TVaDisplay *Display() const { return FDisplay; }
    void setDisplay(TVaDisplay *Value) { FDisplay = Value; }
    QString Version() const;
    void setVersion(const QString &) {}
    bool SyncThreads() const { return FSyncThreads; }
    void setSyncThreads(bool Value) { FSyncThreads = Value; }

    // The descriptor while open, -1 while closed.
    int Handle() const;
    // The device path DeviceName and PortNum give.
    QString GetDevicePath() const;

    // --- events (see the header comment)
    void setOnOpen(TNotifyEvent F) { FOnOpen = std::move(F); }
    void setOnClose(TNotifyEvent F) { FOnClose = std::move(F); }
    void setOnCts(TNotifyEvent F) { FOnCts = std::move(F); }
    void setOnDsr(TNotifyEvent F) { FOnDsr = std::move(F); }
    void setOnRlsd(TNotifyEvent F) { FOnRlsd = std::move(F); }
    void setOnRing(TNotifyEvent F) { FOnRing = std::move(F); }
    void setOnBreak(TNotifyEvent F) { FOnBreak = std::move(F); }
    void setOnError(TVaCommErrorEvent F) { FOnError = std::move(F); }
    void setOnRxChar(TVaCommRxCharEvent F) { FOnRxChar = std::move(F); }
    void setOnRxBuf(TVaCommRxBufEvent F) { FOnRxBuf = std::move(F); }
    void setOnRxFlag(TNotifyEvent F) { FOnRxFlag = std::move(F); }
    void setOnTxEmpty(TNotifyEvent F) { FOnTxEmpty = std::move(F); }
    void setOnPErr(TNotifyEvent F) { FOnPErr = std::move(F); }
    void setOnRx80Full(TNotifyEvent F) { FOnRx80Full = std::move(F); }
    void setOnEvent1(TNotifyEvent F) { FOnEvent1 = std::move(F); }
    void setOnEvent2(TNotifyEvent F) { FOnEvent2 = std::move(F); }

    // --- output lines and status
    void SetDTR(bool Value);
    void SetRTS(bool Value);
    void SetBreak(bool Value);
    void SetXon(bool Value);
    void ResetDev();
    bool CTS() { return GetModemLine(MS_CTS_ON); }
    bool DSR() { return GetModemLine(MS_DSR_ON); }
    bool RING() { return GetModemLine(MS_RING_ON); }
    bool RLSD() { return GetModemLine(MS_RLSD_ON); }
    bool CTSHold() { return GetHoldFlag(HOLD_CTS); }
    bool DSRHold() { return GetHoldFlag(HOLD_DSR); }
    bool RLSDHold() { return GetHoldFlag(HOLD_RLSD); }
    bool XOffHold() { return GetHoldFlag(HOLD_XOFF); }
    bool XOffSent() { return GetHoldFlag(HOLD_XOFFSENT); }
    TVaCommProp Properties();
    void ResetPortParameters();
    bool LoadSettings();
    void SaveSettings();
    void GetComPortNames(QStringList &Value);
    // True once the device has gone away under the open port (hang-up, unplugged adapter):
    // reads return nothing, the write queue is dropped and writes fail at once, OnError got
    // CE_IOE. Close still works; opening again clears it.
    bool DeviceLost() const { return FDeviceLost; }

    // --- receive (never waits for data)
    bool ReadChar(char &Ch);
    qint32 ReadBuf(char *Buf, qint32 Count);
    QByteArray ReadText();
    bool WaitChar(quint32 TimeOut);
    bool ReadCharWait(char &Ch, quint32 TimeOut);
    qint32 ReadBufUsed();
    qint32 ReadBufFree();
    qint32 UARTReadBufUsed();
    qint32 UARTWriteBufUsed();
    void GetStatus(TVaCommStatus &Status);

    // --- write
    qint32 WriteBuf(const char *Buf, qint32 Count);
    bool WriteText(const QByteArray &s);
    bool WriteText(const std::string &s) { return WriteText(QByteArray::fromStdString(s)); }
    bool WriteText(const char *s) { return WriteText(QByteArray(s)); }
    bool WriteChar(char Ch);
    qint32 WriteBufUsed();
    qint32 WriteBufFree();
    void PurgeRead() { Purge(PURGE_RXABORT | PURGE_RXCLEAR); }
    void PurgeWrite() { Purge(PURGE_TXABORT | PURGE_TXCLEAR); }
    void PurgeReadWrite() { Purge(0x0F); }

    // --- dispatchers
    void InsertClient(TVaDispatcher *Value);
    void RemoveClient(TVaDispatcher *Value);
    void EnableControls() { FControlsEnabled = true; }
    void DisableControls() { FControlsEnabled = false; }

    // --- device layer and what a Linux tty cannot hold
    // Replaces the device layer (tests give a fake); only while closed.
    void setDevice(std::unique_ptr<TVaDevice> Device);
    TVaDevice *Device() const { return FDevice.get(); }
    // The control block last written to the device (fields a tty has no place for included).
    TVaDCB DeviceDCB() const { return FDeviceDCB; }
    bool DeviceDCBWritten() const { return FDeviceDCBValid; }
    // Queue sizes last given to the driver; Linux has fixed tty queues, so they are only kept.
    qint32 DeviceReadQueueSize() const { return FDeviceInQueue; }
    qint32 DeviceWriteQueueSize() const { return FDeviceOutQueue; }
    TVaCommTimeouts DeviceTimeouts() const { return FDeviceTimeouts; }
    quint32 EventMask() const { return FEventMask; }

    // Line configuration <-> termios (raw mode, VMIN and VTIME untouched). DCBToTermios returns
    // an error number for what no tty can take (4 data bits, rate 0, 1.5 stop bits with more
    // than 5 data bits).
    static int DCBToTermios(const TVaDCB &Dcb, TVaTermios &T);
    static TVaDCB TermiosToDCB(const TVaTermios &T);
    // Serial ports under a sysfs tty class folder (normally /sys/class/tty): platform UARTs first,
    // then USB, ACM, Bluetooth and other serial devices; names without "/dev/".
    static QStringList ListSerialPorts(const QString &SysClassTty);

protected:
    // Overridable steps (tests replace them to force failures).
    virtual void CreateHandle();
    virtual void StartThreads();
    virtual void StartThread(TVaThread &Thread) { Thread.Start(); }
    virtual void DoRxChar();
    virtual void DoEvent(quint32 EventMask);
    virtual void NotifyClients(quint32 EventMask);
    virtual void DoRxBuf(PVaData Data, qint32 Count);

    void CheckClosed();
    [[noreturn]] void RaiseCommError(const QString &Msg, int E);
    void CheckCommResult(int E, const QString &Msg);
    void DestroyHandle();
    void ApplyDCB();
    void ApplyBufferSizes();
    void ApplyTimeouts();
    void ApplyEventMask();
    void EscapeFunction(quint32 Func);
    void ReadDCB(const TVaDCB &Dcb);
    void StopThreads();

private:
    friend class TVaCommEventThread;
    friend class TVaCommWriteThread;
    friend class TWaitThread;
    friend class TVaThread;

    void BuffersChanged();
    void EventCharsChanged();
    void FlowControlChanged();
    bool GetModemLine(quint32 Bit);
    bool GetHoldFlag(quint32 Bit);
    void Purge(quint32 Code);
    void DoOpen();
    void DoClose();
    void DoError();
    void DispatchEvents(quint32 EventMask);
    void RemoveAllClients();
    int GetCommState(TVaDCB &Dcb);
    int SetCommState(const TVaDCB &Dcb);
    void MarkDeviceLost();
    // Event thread side: what happened on the device since the last look.
    quint32 CollectEvents(bool Readable);
    void PrimeEventSnapshots();
    int EventPollInterval() const;
    quint32 CollectLineErrors();
    QString settingsFile(QString &Section);

    // Device and engine state.
    std::unique_ptr<TVaDevice> FDevice;
    std::atomic<bool> FActive{false};
    TVaCriticalSection FWriteSection;
    TVaCriticalSection FGlobalSection;
    TVaCommProp FProperties{};
    TVaCommEventThread *FEventThread = nullptr;
    TVaCommWriteThread *FWriteThread = nullptr;
    quint32 FEventMask = 0;
    TVaSynchronizer FSync;
    bool FClosing = false;
    bool FDestroying = false;

    // Stored settings.
    bool FAutoOpen = false;
    TVaPortInt FPortNum = 0;
    QString FDeviceName;
    TVaCommEvents FMonitorEvents;
    std::unique_ptr<TVaBuffers> FBuffers;
    TThreadPriority FEventPriority = tpNormal;
    TThreadPriority FWritePriority = tpHighest;
    bool FDirectWrite = false;
    bool FControlsEnabled = true;
    QList<TVaDispatcher *> FClients;
    TVaBaudrate FBaudrate = br1200;
    TVaParity FParity = paNone;
    TVaDatabits FDatabits = db8;
    TVaStopbits FStopbits = sb1;
    TVaCommOptions FOptions = 0;
    std::unique_ptr<TVaFlowControl> FFlowControl;
    std::unique_ptr<TVaEventChars> FEventChars;
    bool FUpdateDCB = true;
    qint32 FUserBaudrate = 0;
    TNotifyEvent FOnOpen, FOnClose, FOnCts, FOnDsr, FOnRlsd, FOnRing, FOnBreak;
    TVaCommErrorEvent FOnError;
    TVaCommRxCharEvent FOnRxChar;
    TVaCommRxBufEvent FOnRxBuf;
    TNotifyEvent FOnRxFlag, FOnTxEmpty, FOnPErr, FOnRx80Full, FOnEvent1, FOnEvent2;
    QPointer<TVaDisplay> FDisplay;
    bool FSyncThreads = true;
    std::unique_ptr<TSettingsStore> FSettingsStore;

    // What the device got that a tty cannot hold.
    TVaDCB FDeviceDCB;
    bool FDeviceDCBValid = false;
    qint32 FDeviceInQueue = 0;
    qint32 FDeviceOutQueue = 0;
    TVaCommTimeouts FDeviceTimeouts;
    bool FOutputSuspended = false; // SetXon(false) stopped the output

    // Line state. Error flags pending for the next status read; the status read's and the event
    // thread's own snapshots of the driver's counters and modem lines.
    std::atomic<quint32> FPendingErrors{0};
    std::atomic<bool> FDeviceLost{false};
    TVaLineCounters FStatusCounters;
    bool FStatusCountersValid = false;
    TVaLineCounters FEvtCounters;
    bool FEvtCountersValid = false;
    int FEvtModem = 0;
    bool FEvtModemValid = false;
    // Direct mode: the event thread watches the output queue drain after a write.
    TVaWaitEvent FTxKick;
    std::atomic<bool> FTxPending{false};

    // A write-thread notification is queued for the owner's thread and not yet run: another
    // one of the same kind is not queued again.
    std::atomic<bool> FTxEmptyPosted{false};
    std::atomic<bool> FWriteErrorPosted{false};
};

// Publishes the settings; nothing else.
class TVaComm : public TVaCustomComm
{
    Q_OBJECT
public:
    explicit TVaComm(QObject *AOwner = nullptr) : TVaCustomComm(AOwner) {}
};
