// The port's background threads: the event thread, the write thread and WaitChar's wait thread.

#include "vacomm.h"

#include <cerrno>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{
// Scheduling: the seven levels become nice values of the thread (raising needs privileges; a
// refusal leaves the thread at its inherited level).
int niceOf(TThreadPriority p)
{
    static const int nice[] = {19, 10, 5, 0, -5, -10, -15};
    return p <= tpTimeCritical ? nice[p] : 0;
}
} // namespace

// ---------------------------------------------------------------- TVaThread

TVaThread::~TVaThread()
{
    WaitFor();
}

void TVaThread::Start()
{
    FThread = std::thread([this] {
        FTid = int(::syscall(SYS_gettid));
        applyPriority();
        try {
            Execute();
        } catch (...) {
            VaHandleException(std::current_exception());
        }
        FFinished = true;
        FOwner->FSync.Wake();
    });
}

void TVaThread::WaitFor()
{
    if (FThread.joinable())
        FThread.join();
}

void TVaThread::setPriority(TThreadPriority Value)
{
    FPriority = Value;
    if (FTid != 0 && !FFinished)
        applyPriority();
}

void TVaThread::applyPriority()
{
    const int tid = FTid;
    if (tid != 0)
        ::setpriority(PRIO_PROCESS, id_t(tid), niceOf(FPriority));
}

// ---------------------------------------------------------------- event thread

void TVaCommEventThread::Stop()
{
    Terminate();
    FEvent.SetEvent();
}

void TVaCommEventThread::Execute()
{
    TVaCustomComm *owner = FOwner;
    const int epfd = ::epoll_create1(EPOLL_CLOEXEC);
    if (epfd < 0) {
        // The wait cannot even start: no events until the port is closed.
        FEvent.WaitFor(0xFFFFFFFFu);
        return;
    }
    enum : uint64_t { kStop, kDevice, kTxKick };
    auto add = [epfd](int fd, uint32_t events, uint64_t tag) {
        epoll_event ev{};
        ev.events = events;
        ev.data.u64 = tag;
        return ::epoll_ctl(epfd, EPOLL_CTL_ADD, fd, &ev) == 0;
    };
    add(FEvent.Handle(), EPOLLIN, kStop);
    add(owner->FTxKick.Handle(), EPOLLIN, kTxKick);
    // Edge-triggered: one report per arrival of bytes, as a receive event is. Bytes the handler
    // leaves waiting do not wake the thread again until more arrive.
    const int devfd = owner->FDevice->Descriptor();
    bool watching = add(devfd, EPOLLIN | EPOLLRDHUP | EPOLLET, kDevice);

    while (!Terminated()) {
        epoll_event evs[4];
        const int n = ::epoll_wait(epfd, evs, 4, owner->EventPollInterval());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            FEvent.WaitFor(0xFFFFFFFFu); // the wait failed outright: wait for the stop request
            break;
        }
        if (Terminated())
            break;
        bool readable = false;
        for (int i = 0; i < n; ++i) {
            if (evs[i].data.u64 == kTxKick) {
                owner->FTxKick.ResetEvent();
            } else if (evs[i].data.u64 == kDevice) {
                if (evs[i].events & (EPOLLHUP | EPOLLERR | EPOLLRDHUP)) {
                    // The other end hung up or the adapter is gone: a tty stays "ready" forever
                    // then, so stop watching it and report the loss once.
                    owner->MarkDeviceLost();
                    ::epoll_ctl(epfd, EPOLL_CTL_DEL, devfd, nullptr);
                    watching = false;
                }
                if (evs[i].events & EPOLLIN)
                    readable = true;
            }
        }
        FEvtMask = owner->CollectEvents(readable && watching) & owner->FEventMask;
        if (FEvtMask == 0 || Terminated())
            continue;
        const quint32 mask = FEvtMask;
        if (FSync)
            owner->FSync.Call([owner, mask] { owner->DispatchEvents(mask); }, TerminatedFlag());
        else
            owner->DispatchEvents(mask);
    }
    ::close(epfd);
}

// ---------------------------------------------------------------- write thread

TVaCommWriteThread::TVaCommWriteThread(TVaCustomComm *Owner, qint32 BufSize)
    : TVaThread(Owner), FBuffer(BufSize)
{
}

void TVaCommWriteThread::Stop()
{
    Terminate();
    FCloseEvent.SetEvent();
    std::lock_guard<std::mutex> lk(FRoomMutex);
    FRoomCond.notify_all();
}

bool TVaCommWriteThread::WriteData(const char *Buf, qint32 Count)
{
    TVaCustomComm *owner = FOwner;
    const qint32 size = owner->FBuffers->WriteSize();
    auto queued = [&] {
        std::lock_guard<TVaCriticalSection> g(owner->FWriteSection);
        return FBuffer.Size();
    };
    if (qint64(queued()) + Count > size) {
        // Wait for room until the deadline; the write thread tells when it removed bytes.
        const quint32 start = VaTickCount();
        const quint32 timeout = quint32(owner->FBuffers->WriteTimeout());
        for (;;) {
            if (owner->FDeviceLost)
                return false;
            if (qint64(queued()) + Count <= size)
                break;
            const quint32 elapsed = VaTicksSince(start, VaTickCount());
            if (elapsed > timeout || Terminated())
                return false;
            std::unique_lock<std::mutex> lk(FRoomMutex);
            FRoomCond.wait_for(lk, std::chrono::milliseconds(timeout - elapsed + 1));
        }
    }
    std::lock_guard<TVaCriticalSection> g(owner->FWriteSection);
    FBuffer.Write(Buf, Count);
    FWriteEvent.SetEvent();
    return true;
}

bool TVaCommWriteThread::PurgeWrite()
{
    // Only an acknowledgement of this request counts.
    FFlushDoneEvent.ResetEvent();
    FFlushEvent.SetEvent();
    if (FFlushDoneEvent.WaitFor(2000) != wrSignaled)
        return false;
    {
        std::lock_guard<TVaCriticalSection> g(FOwner->FWriteSection);
        FBuffer.Clear();
        ++FGeneration;
        FClearedEvent.SetEvent();
    }
    std::lock_guard<std::mutex> lk(FRoomMutex);
    FRoomCond.notify_all();
    return true;
}

TVaCommWriteThread::Wake TVaCommWriteThread::WaitFirst(bool Write, int DeviceFd, int Timeout,
                                                       short *DeviceEvents)
{
    pollfd p[5] = {{FCloseEvent.Handle(), POLLIN, 0},
                   {FFlushEvent.Handle(), POLLIN, 0},
                   {Write ? FWriteEvent.Handle() : -1, POLLIN, 0},
                   {DeviceFd >= 0 ? FClearedEvent.Handle() : -1, POLLIN, 0},
                   {DeviceFd, POLLOUT, 0}};
    for (;;) {
        const int r = ::poll(p, 5, Timeout);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return wkTimeout;
        // The earliest signalled wins.
        if (p[0].revents)
            return wkClose;
        if (p[1].revents)
            return wkFlush;
        if (p[2].revents)
            return wkWrite;
        if (p[3].revents)
            return wkCleared;
        if (DeviceEvents)
            *DeviceEvents = p[4].revents;
        return wkDevice;
    }
}

void TVaCommWriteThread::AcknowledgeFlush()
{
    FFlushEvent.ResetEvent();
    FFlushDoneEvent.SetEvent();
}

void TVaCommWriteThread::Execute()
{
    TVaCustomComm *owner = FOwner;
    TVaDevice *device = owner->FDevice.get();
    while (!Terminated()) {
        switch (WaitFirst(true, -1, -1)) {
        case wkClose:
            Terminate();
            continue;
        case wkFlush:
            AcknowledgeFlush();
            continue;
        default:
            break;
        }
        qint32 count;
        const char *data;
        quint64 generation;
        {
            std::lock_guard<TVaCriticalSection> g(owner->FWriteSection);
            FClearedEvent.ResetEvent();
            count = FBuffer.Size();
            data = FBuffer.DataPtr();
            generation = FGeneration;
        }
        if (count == 0) {
            WriteDone(0, generation);
            continue;
        }
        if (owner->FDeviceLost) {
            // Nothing will ever drain a lost device: the queue goes, so that no writer waits
            // for room that never comes.
            {
                std::lock_guard<TVaCriticalSection> g(owner->FWriteSection);
                FBuffer.Clear();
                ++FGeneration;
            }
            {
                std::lock_guard<std::mutex> lk(FRoomMutex);
                FRoomCond.notify_all();
            }
            const Wake w = WaitFirst(false, -1, -1);
            if (w == wkClose)
                Terminate();
            else if (w == wkFlush)
                AcknowledgeFlush();
            continue;
        }
        const long n = device->Write(data, size_t(count));
        if (n > 0) {
            WriteDone(qint32(n), generation);
            continue;
        }
        const int e = n < 0 ? int(-n) : EAGAIN;
        if (e == EAGAIN || e == EWOULDBLOCK) {
            // The device takes nothing now (flow control, a full queue): wait until it does.
            short revents = 0;
            const Wake w = WaitFirst(false, device->Descriptor(), -1, &revents);
            if (w == wkClose) {
                Terminate();
            } else if (w == wkFlush) {
                AcknowledgeFlush();
            } else if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
                owner->MarkDeviceLost();
                NotifyWriteError();
            }
            continue;
        }
        if (VaDeviceGone(e))
            owner->MarkDeviceLost();
        NotifyWriteError();
        if (!owner->FDeviceLost) {
            // Retry, but not in a tight loop: a failure that persists would burn a core.
            const Wake w = WaitFirst(false, -1, 100);
            if (w == wkClose)
                Terminate();
            else if (w == wkFlush)
                AcknowledgeFlush();
        }
    }
}

void TVaCommWriteThread::WriteDone(qint32 Count, quint64 Generation)
{
    bool empty;
    {
        std::lock_guard<TVaCriticalSection> g(FOwner->FWriteSection);
        // Bytes written from before a purge were already dropped with the queue.
        if (Generation == FGeneration)
            FBuffer.Remove(Count);
        empty = FBuffer.Size() == 0;
        // Test and reset in one step under the lock: WriteData signals under the same lock.
        if (empty)
            FWriteEvent.ResetEvent();
    }
    {
        std::lock_guard<std::mutex> lk(FRoomMutex);
        FRoomCond.notify_all();
    }
    if (empty)
        NotifyTxEmpty();
}

// The write thread's reports are queued for the owner's thread without waiting for it, so that
// bytes queued meanwhile leave while that thread is busy; a report already waiting is not
// queued twice.
void TVaCommWriteThread::NotifyTxEmpty()
{
    TVaCustomComm *owner = FOwner;
    if (!FSync) {
        owner->DispatchEvents(EV_TXEMPTY);
        return;
    }
    if (owner->FTxEmptyPosted.exchange(true))
        return;
    owner->FSync.Post([owner] {
        owner->FTxEmptyPosted = false;
        owner->DispatchEvents(EV_TXEMPTY);
    });
}

void TVaCommWriteThread::NotifyWriteError()
{
    TVaCustomComm *owner = FOwner;
    if (!FSync) {
        owner->DispatchEvents(EV_ERR);
        return;
    }
    if (owner->FWriteErrorPosted.exchange(true))
        return;
    owner->FSync.Post([owner] {
        owner->FWriteErrorPosted = false;
        owner->DispatchEvents(EV_ERR);
    });
}

// ---------------------------------------------------------------- WaitChar's thread

void TWaitThread::setDone(bool Value)
{
    FDone = Value;
    if (Value)
        FDoneEvent.SetEvent();
}

TWaitThread::~TWaitThread()
{
    setDone(true);
    if (FThread.joinable())
        FThread.join();
}

void TWaitThread::Start()
{
    FThread = std::thread([this] {
        Execute();
        FEndEvent.SetEvent();
    });
}

void TWaitThread::Execute()
{
    // WaitChar blocks the owner's thread until this thread has ended, so the device stays as
    // it is meanwhile. The queue is read directly (not through the status read, which would
    // take the port's lock and the pending error flags), and between looks the thread sleeps
    // on the descriptor instead of asking again and again.
    TVaDevice *device = FComm->FDevice.get();
    const bool open = FComm->Active();
    const int fd = open ? device->Descriptor() : -1;
    bool useDevice = fd >= 0;
    auto waiting = [&] {
        int n = 0;
        return open && device->InQueue(n) == 0 && n > 0;
    };
    while (!FDone) {
        if (waiting())
            return;
        pollfd p[2] = {{FDoneEvent.Handle(), POLLIN, 0}, {useDevice ? fd : -1, POLLIN, 0}};
        int r;
        do
            r = ::poll(p, 2, useDevice || !open ? -1 : 20);
        while (r < 0 && errno == EINTR);
        if (p[1].revents & (POLLHUP | POLLERR | POLLNVAL))
            useDevice = false;
        else if ((p[1].revents & POLLIN) && !waiting())
            // Readable with nothing counted (a fake device's signal): short sleeps from now on
            // rather than spinning on a descriptor that stays readable.
            useDevice = false;
    }
}
