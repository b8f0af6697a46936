// Open and close: the device handle and the port's threads.

#include "vacomm.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <thread>

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
