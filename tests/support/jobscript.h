#pragma once

// Acts inside a running job. A job runs nested inside the test's own event wait, so the test
// cannot look at it from its main flow: a script of steps does, each step running from a timer
// as soon as its condition holds (and only after the step before it).

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>

class JobScript : public QObject
{
public:
    JobScript()
    {
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, &JobScript::tick);
    }

    // Runs `act` once `ready` holds.
    JobScript &when(std::function<bool()> ready, std::function<void()> act)
    {
        m_steps.append({std::move(ready), std::move(act), -1});
        return *this;
    }
    // Runs `act` when `ms` real milliseconds have passed since the step before.
    JobScript &after(int ms, std::function<void()> act)
    {
        m_steps.append({[] { return true; }, std::move(act), ms});
        return *this;
    }
    void start()
    {
        m_clock.start();
        m_timer.start();
    }
    bool done() const { return m_steps.isEmpty() && !m_running; }

private:
    struct Step {
        std::function<bool()> ready;
        std::function<void()> act;
        int afterMs;
    };

    void tick()
    {
        // An action may wait itself (a click that runs a sequence): no step starts inside it.
        if (m_running)
            return;
        if (m_steps.isEmpty()) {
            m_timer.stop();
            return;
        }
        const Step &next = m_steps.first();
        if (next.afterMs >= 0 ? m_clock.elapsed() < next.afterMs : !next.ready())
            return;
        const Step step = m_steps.takeFirst();
        m_running = true;
        step.act();
        m_running = false;
        m_clock.restart();
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    QList<Step> m_steps;
    bool m_running = false;
};
