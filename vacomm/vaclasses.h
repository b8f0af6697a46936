#pragma once

// Base classes and platform helpers of the serial port component: the persistent-object base
// with change notification, the component base, handle-owning event objects (eventfd), the
// recursive lock, the synchronous hand-over into the owner's thread, the component's error
// routing and its message formatting.

#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QVariant>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

// A settings object that tells its owner about changes; BeginUpdate/EndUpdate group changes
// into one notification.
class TVaPersistent
{
public:
    virtual ~TVaPersistent() = default;

    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();
    // Copies all settings from an object of the same class (one notification).
    virtual void Assign(const TVaPersistent &Source);

    std::function<void(TVaPersistent *Sender)> OnChange;

protected:
    void Changed();

private:
    qint32 FUpdateCount = 0;
};

// Base of the non-visual components: a QObject whose objectName() is the component's Name.
class TVaComponent : public QObject
{
    Q_OBJECT
public:
    explicit TVaComponent(QObject *AOwner = nullptr) : QObject(AOwner) {}
    QString Name() const { return objectName(); }
    void setName(const QString &Name) { setObjectName(Name); }
};

// Owns one operating-system descriptor; closing it is the destructor's job.
class TVaHandleObject
{
public:
    TVaHandleObject() = default;
    TVaHandleObject(const TVaHandleObject &) = delete;
    TVaHandleObject &operator=(const TVaHandleObject &) = delete;
    virtual ~TVaHandleObject();

    int Handle() const { return FHandle; }
    int Error() const { return FError; }

protected:
    int FHandle = -1;
    int FError = 0;
};

enum TVaEventWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

// An event object on an eventfd, so that it can be waited for together with a device in poll().
// Manual-reset events stay signalled until ResetEvent; auto-reset ones are consumed by WaitFor.
class TVaEvent : public TVaHandleObject
{
public:
    TVaEvent(void *EventAttributes, bool ManualReset, bool InitialState, const char *Name);
    // Timeout in milliseconds; 0xFFFFFFFF waits without a limit.
    TVaEventWaitResult WaitFor(quint32 Timeout);
    void SetEvent();
    void ResetEvent();
    // True while signalled (does not consume an auto-reset event).
    bool IsSet() const;

private:
    bool FManualReset;
};

// Manual-reset, initially non-signalled, unnamed.
class TVaWaitEvent : public TVaEvent
{
public:
    TVaWaitEvent() : TVaEvent(nullptr, true, false, nullptr) {}
};

// Recursive lock.
class TVaCriticalSection
{
public:
    void Acquire() { FSection.lock(); }
    void Release() { FSection.unlock(); }
    void Enter() { FSection.lock(); }
    void Leave() { FSection.unlock(); }
    // For std::lock_guard.
    void lock() { FSection.lock(); }
    void unlock() { FSection.unlock(); }

private:
    std::recursive_mutex FSection;
};

// Runs calls posted by worker threads on the thread of a context object (the owner's GUI
// thread) while the worker blocks. Posted calls run whenever that thread processes its event
// queue, nested loops included, and while it waits in WaitUntil (so a Close that waits for the
// workers cannot deadlock on a worker blocked in a call).
class TVaSynchronizer
{
public:
    TVaSynchronizer();
    // On the owner's thread before the first worker starts: the calls will run on this thread
    // (it needs a Qt event dispatcher, as the main thread and every QThread have).
    void Prepare();
    ~TVaSynchronizer();
    TVaSynchronizer(const TVaSynchronizer &) = delete;
    TVaSynchronizer &operator=(const TVaSynchronizer &) = delete;

    // Worker side. Returns when Fn has run, or when Abandon is set while Fn is already running
    // on the owner's thread (an owner that closes the port from inside the call must not wait
    // for the caller that waits for it). Wake() must follow every change of Abandon.
    void Call(const std::function<void()> &Fn, const std::atomic<bool> &Abandon);
    // Worker side: queues Fn to run on the owner's thread and returns at once.
    void Post(const std::function<void()> &Fn);
    void Wake();

    // Owner side: runs the posted calls that wait; true when one ran.
    bool RunPending();
    // Owner side: runs posted calls until Done() holds (Done is re-tested after every Wake).
    void WaitUntil(const std::function<bool()> &Done);

private:
    struct Request {
        std::function<void()> Fn;
        bool Started = false;
        bool Finished = false;
    };
    // Workers wake the owner's thread through an eventfd watched by a socket notifier: one
    // wake-up however many calls wait, and all data passes through FMutex.
    int FWakeFd = -1;
    std::unique_ptr<QSocketNotifier> FNotifier;
    std::mutex FMutex;
    std::condition_variable FCond;
    std::deque<std::shared_ptr<Request>> FQueue;
};

// Where exceptions from event handlers go: the application's exception handler. The default
// writes the message to the log; an application installs its own (the standard error box).
// It is called on the thread that ran the handler, the owner's thread when SyncThreads is on.
using TVaExceptionHandler = std::function<void(const std::exception &E)>;
void VaSetExceptionHandler(TVaExceptionHandler Handler);
void VaHandleException(std::exception_ptr E);

// printf-style formatting restricted to %d (integer), %s (text) and %%, arguments in order.
QString VaFormat(const QString &Fmt, const QVariantList &Args);
// Operating-system error text for an error number, without trailing blanks, control characters
// or full stops.
QString VaSysErrorText(int E);
// A 32-bit millisecond tick counter that wraps, and the elapsed time since a start tick.
quint32 VaTickCount();
inline quint32 VaTicksSince(quint32 Start, quint32 Now)
{
    return Now - Start;
}
