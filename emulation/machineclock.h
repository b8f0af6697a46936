#pragma once

#include <QElapsedTimer>

#include <cstdint>
#include <functional>

// The machine's sense of time: a 32-bit wrapping millisecond tick count and the waits that serve
// the GUI event queue while they last.
//
// Two seams keep the tests fast and exact without changing the real program: the tick source can
// be replaced (to start the counter just below its wrap), and a speed factor divides every wait
// (the real program runs at speed 1, the machine's own pace).
class MachineClock
{
public:
    using TickSource = std::function<uint32_t()>;

    MachineClock();

    uint32_t tickCount() const;
    void setTickSource(TickSource source);

    double speed() const { return m_speed; }
    void setSpeed(double speed);

    // The wait, in ticks, that a machine wait of `ms` milliseconds takes at the current speed.
    int64_t scaledWait(int32_t ms) const;

    // Waits `ms` milliseconds (scaled by the speed) while processing GUI events: host input,
    // button clicks and painting run nested inside it. Blocks on the event queue between
    // rounds, so it costs no CPU while nothing happens. A time of 0 or less processes nothing;
    // a positive time that the speed shrinks below one tick serves the pending events once.
    void PumpedDelay(int32_t ms);

private:
    QElapsedTimer m_started;
    TickSource m_tickSource;
    double m_speed = 1.0;
};
