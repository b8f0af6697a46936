#include "machineclock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cmath>

MachineClock::MachineClock()
{
    m_started.start();
}

uint32_t MachineClock::tickCount() const
{
    if (m_tickSource)
        return m_tickSource();
    return static_cast<uint32_t>(m_started.elapsed());
}

void MachineClock::setTickSource(TickSource source)
{
    m_tickSource = std::move(source);
}

void MachineClock::setSpeed(double speed)
{
    if (speed > 0 && std::isfinite(speed))
        m_speed = speed;
}

int64_t MachineClock::scaledWait(int32_t ms) const
{
    if (m_speed == 1.0)
        return ms;
    return static_cast<int64_t>(std::llround(ms / m_speed));
}

void MachineClock::PumpedDelay(int32_t ms)
{
    const int64_t wanted = scaledWait(ms);
    if (ms > 0 && wanted <= 0) {
        // A speed so high that the wait rounds to nothing still serves the events that are
        // due: a paused job waits in a loop of these, and only an event can end its pause.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    const uint32_t start = tickCount();
    // A timer wakes the event wait when the time is up; any other event wakes it earlier and
    // is served at once. processEvents(WaitForMoreEvents) sleeps in the event dispatcher, so
    // the wait costs no CPU. (A nested QEventLoop would return at once, and so spin, once the
    // application has been asked to quit while a job still runs.)
    QTimer wakeUp;
    wakeUp.setSingleShot(true);
    wakeUp.setTimerType(Qt::PreciseTimer);
    for (;;) {
        // The unsigned 32-bit difference survives a wrap of the tick counter; the comparison
        // is made in 64 bits between the (signed) wanted time and the (unsigned) elapsed time.
        const uint32_t elapsed = tickCount() - start;
        if (wanted <= static_cast<int64_t>(elapsed))
            return;
        if (!wakeUp.isActive())
            wakeUp.start(static_cast<int>(wanted - static_cast<int64_t>(elapsed)));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}
