#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

class Machine;
class QTimer;

// Actions a test rig arms on the machine's moments ("at the third strike, set a fault"), so it
// does not race the machine through the control port. Each trigger counts its event from the
// moment it is armed and, at the N-th, runs its request right there, inside the machine's
// announcement on the GUI thread; the request's reply (or error) is kept with the trigger. A
// repeating trigger counts afresh after each firing; others stay listed as fired.
//
// The requests run through a runner (the command table); this class knows none of them.
class Triggers : public QObject
{
    Q_OBJECT
public:
    using Reply = std::function<void(const QJsonObject &reply)>;
    // Runs one request: its reply now, or nothing when `later` gets it from the event loop.
    using Runner = std::function<std::optional<QJsonObject>(const QJsonObject &, Reply later)>;

    // Armed at once at most; fired ones beyond kMaxFiredKept are forgotten, oldest first.
    static constexpr int kMaxArmed = 1000;
    static constexpr int kMaxFiredKept = 1000;

    // `commands` are the request names a trigger's "do" may use.
    Triggers(Machine &machine, QStringList commands, Runner runner, QObject *parent = nullptr);
    ~Triggers() override;

    // The control requests: {"cmd":"on",...}, {"cmd":"triggers"}, {"cmd":"clear_triggers"}.
    QJsonObject arm(const QJsonObject &request);
    QJsonObject list() const;
    QJsonObject clear();

    enum class Event { Strike, Poll, Message, JobStart, JobEnd, AfterMs };
    // The event names "on" takes.
    static QStringList eventNames();

private:
    struct Trigger {
        int id = 0;
        Event event = Event::Strike;
        int count = 1;
        bool repeat = false;
        QJsonObject request;
        int remaining = 1; // events still to come before it fires
        bool armed = true;
        int fired = 0;           // how often it fired
        QJsonValue reply;        // the latest firing's reply; null until it has one
        bool replyDue = false;   // the latest firing's reply comes later
        QTimer *timer = nullptr; // after_ms only
    };

    void count(Event event);
    void fire(int id);
    void keepReply(int id, int firing, const QJsonObject &reply);
    Trigger *find(int id);
    void forgetOldFired();
    static QJsonObject describe(const Trigger &trigger);

    QStringList m_commands;
    Runner m_runner;
    std::vector<Trigger> m_triggers; // in the order they were armed
    int m_nextId = 1;
};
