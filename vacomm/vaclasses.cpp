#include "vaclasses.h"

#include <QtDebug>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

void TVaPersistent::EndUpdate()
{
    if (FUpdateCount > 0)
        --FUpdateCount;
    Changed();
}

void TVaPersistent::Assign(const TVaPersistent &) {}

void TVaPersistent::Changed()
{
    if (FUpdateCount == 0 && OnChange)
        OnChange(this);
}

TVaHandleObject::~TVaHandleObject()
{
    if (FHandle >= 0)
        ::close(FHandle);
}

TVaEvent::TVaEvent(void *, bool ManualReset, bool InitialState, const char *)
    : FManualReset(ManualReset)
{
    FHandle = ::eventfd(InitialState ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FHandle < 0) {
        FError = errno;
        throw std::system_error(FError, std::generic_category(), "eventfd");
    }
}

TVaEventWaitResult TVaEvent::WaitFor(quint32 Timeout)
{
    using Clock = std::chrono::steady_clock;
    const bool noLimit = Timeout == 0xFFFFFFFFu;
    const auto deadline = Clock::now() + std::chrono::milliseconds(Timeout);
    for (;;) {
        int wait = -1;
        if (!noLimit) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            wait = left.count() > 0 ? int(left.count()) : 0;
        }
        pollfd p{FHandle, POLLIN, 0};
        const int r = ::poll(&p, 1, wait);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            FError = errno;
            return wrError;
        }
        if (r == 0)
            return wrTimeout;
        if (FManualReset)
            return wrSignaled;
        quint64 v;
        if (::read(FHandle, &v, sizeof v) == sizeof v)
            return wrSignaled;
        // Another waiter took it first: wait again for what is left of the time.
    }
}

void TVaEvent::SetEvent()
{
    const quint64 one = 1;
    // A full counter (never reached in practice) is still signalled, so a failed write is fine.
    [[maybe_unused]] ssize_t r = ::write(FHandle, &one, sizeof one);
}

void TVaEvent::ResetEvent()
{
    quint64 v;
    [[maybe_unused]] ssize_t r = ::read(FHandle, &v, sizeof v);
}

bool TVaEvent::IsSet() const
{
    pollfd p{FHandle, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}

void TVaSynchronizer::Call(const std::function<void()> &Fn, const std::atomic<bool> &Abandon)
{
    auto req = std::make_shared<Request>();
    req->Fn = Fn;
    {
        std::lock_guard<std::mutex> lk(FMutex);
        FQueue.push_back(req);
    }
    FCond.notify_all();
    const quint64 one = 1;
    [[maybe_unused]] ssize_t w = ::write(FWakeFd, &one, sizeof one);
    std::unique_lock<std::mutex> lk(FMutex);
    FCond.wait(lk, [&] { return req->Finished || (req->Started && Abandon.load()); });
}

void TVaSynchronizer::Post(const std::function<void()> &Fn)
{
    auto req = std::make_shared<Request>();
    req->Fn = Fn;
    {
        std::lock_guard<std::mutex> lk(FMutex);
        FQueue.push_back(req);
    }
    FCond.notify_all();
    const quint64 one = 1;
    [[maybe_unused]] ssize_t w = ::write(FWakeFd, &one, sizeof one);
}

TVaSynchronizer::TVaSynchronizer() : FWakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (FWakeFd < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

void TVaSynchronizer::Prepare()
{
    if (FNotifier)
        return;
    FNotifier = std::make_unique<QSocketNotifier>(FWakeFd, QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, FNotifier.get(), [this] {
        quint64 v;
        [[maybe_unused]] ssize_t r = ::read(FWakeFd, &v, sizeof v);
        RunPending();
    });
}

TVaSynchronizer::~TVaSynchronizer()
{
    FNotifier.reset();
    ::close(FWakeFd);
}

void TVaSynchronizer::Wake()
{
    {
        std::lock_guard<std::mutex> lk(FMutex);
    }
    FCond.notify_all();
}

bool TVaSynchronizer::RunPending()
{
    bool ran = false;
    for (;;) {
        std::shared_ptr<Request> req;
        {
            std::lock_guard<std::mutex> lk(FMutex);
            if (FQueue.empty())
                break;
            req = FQueue.front();
            FQueue.pop_front();
            req->Started = true;
        }
        try {
            req->Fn();
        } catch (...) {
            VaHandleException(std::current_exception());
        }
        {
            std::lock_guard<std::mutex> lk(FMutex);
            req->Finished = true;
        }
        FCond.notify_all();
        ran = true;
    }
    return ran;
}

void TVaSynchronizer::WaitUntil(const std::function<bool()> &Done)
{
    std::unique_lock<std::mutex> lk(FMutex);
    while (!Done()) {
        if (!FQueue.empty()) {
            lk.unlock();
            RunPending();
            lk.lock();
            continue;
        }
        FCond.wait(lk);
    }
}

namespace
{
std::mutex handlerMutex;
TVaExceptionHandler &exceptionHandler()
{
    static TVaExceptionHandler handler;
    return handler;
}
} // namespace

void VaSetExceptionHandler(TVaExceptionHandler Handler)
{
    std::lock_guard<std::mutex> lk(handlerMutex);
    exceptionHandler() = std::move(Handler);
}

void VaHandleException(std::exception_ptr E)
{
    TVaExceptionHandler handler;
    {
        std::lock_guard<std::mutex> lk(handlerMutex);
        handler = exceptionHandler();
    }
    try {
        std::rethrow_exception(E);
    } catch (const std::exception &e) {
        if (handler)
            handler(e);
        else
            qWarning("%s", e.what());
    } catch (...) {
        const std::runtime_error unknown("Unknown exception in a serial port handler");
        if (handler)
            handler(unknown);
        else
            qWarning("%s", unknown.what());
    }
}

QString VaFormat(const QString &Fmt, const QVariantList &Args)
{
    QString out;
    out.reserve(Fmt.size() + 32);
    int next = 0;
    for (int i = 0; i < Fmt.size(); ++i) {
        const QChar c = Fmt.at(i);
        if (c != QLatin1Char('%') || i + 1 >= Fmt.size()) {
            out += c;
            continue;
        }
        const QChar k = Fmt.at(i + 1);
        if (k == QLatin1Char('%')) {
            out += QLatin1Char('%');
            ++i;
        } else if ((k == QLatin1Char('d') || k == QLatin1Char('s')) && next < Args.size()) {
            const QVariant &a = Args.at(next++);
            out += k == QLatin1Char('d') ? QString::number(a.toLongLong()) : a.toString();
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

QString VaSysErrorText(int E)
{
    char buf[256];
    // GNU strerror_r returns the text (maybe not in buf).
    const char *text = strerror_r(E, buf, sizeof buf);
    QString t = QString::fromLocal8Bit(text);
    while (!t.isEmpty()) {
        const QChar c = t.back();
        if (c.isSpace() || c.category() == QChar::Other_Control || c == QLatin1Char('.'))
            t.chop(1);
        else
            break;
    }
    return t;
}

quint32 VaTickCount()
{
    using namespace std::chrono;
    return quint32(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
