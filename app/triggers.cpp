#include "triggers.h"

#include "machine.h"

#include <QJsonArray>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <exception>
#include <iterator>
#include <utility>

namespace
{

using Event = Triggers::Event;

// By their names on the wire, in the order the guide lists them.
struct EventName {
    const char *name;
    Event event;
};
constexpr EventName kEventNames[] = {
    {"strike", Event::Strike},      {"poll", Event::Poll},      {"message", Event::Message},
    {"job_start", Event::JobStart}, {"job_end", Event::JobEnd}, {"after_ms", Event::AfterMs},
};

QString nameOf(Event event)
{
    for (const EventName &e : kEventNames) {
        if (e.event == event)
            return QString::fromLatin1(e.name);
    }
    return {};
}

QJsonObject error(const QString &message)
{
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), message}};
}

// Stopped at once, deleted from the event loop: it may be the timer whose timeout runs now.
void dropTimer(QTimer *timer)
{
    if (!timer)
        return;
    timer->stop();
    timer->deleteLater();
}

} // namespace

Triggers::Triggers(Machine &machine, QStringList commands, Runner runner, QObject *parent)
    : QObject(parent), m_commands(std::move(commands)), m_runner(std::move(runner))
{
    connect(&machine, &Machine::strikeDrawn, this, [this] { count(Event::Strike); });
    connect(&machine, &Machine::pollRecognised, this, [this] { count(Event::Poll); });
    connect(&machine, &Machine::messageComplete, this, [this] { count(Event::Message); });
    connect(&machine, &Machine::jobStarted, this, [this] { count(Event::JobStart); });
    connect(&machine, &Machine::jobEnded, this, [this] { count(Event::JobEnd); });
}

Triggers::~Triggers() = default;

QStringList Triggers::eventNames()
{
    QStringList names;
    for (const EventName &e : kEventNames)
        names.append(QString::fromLatin1(e.name));
    return names;
}

QJsonObject Triggers::arm(const QJsonObject &request)
{
    const QString eventName = request.value(QStringLiteral("event")).toString();
    const auto known =
        std::find_if(std::begin(kEventNames), std::end(kEventNames),
                     [&](const EventName &e) { return eventName == QLatin1String(e.name); });
    if (known == std::end(kEventNames)) {
        return error(QStringLiteral("on: event must be one of %1")
                         .arg(eventNames().join(QStringLiteral(", "))));
    }
    const Event event = known->event;

    const QJsonValue repeatValue = request.value(QStringLiteral("repeat"));
    if (!repeatValue.isUndefined() && !repeatValue.isBool())
        return error(QStringLiteral("on: repeat must be true or false"));
    const bool repeat = repeatValue.toBool(false);

    // A one-off timer may fire in the next event round; everything else needs something to
    // count (a repeating 0 ms timer would never let the machine run).
    const int least = event == Event::AfterMs && !repeat ? 0 : 1;
    const QJsonValue countValue = request.value(QStringLiteral("count"));
    int count = 1;
    if (!countValue.isUndefined()) {
        count = countValue.toInt(-1);
        if (!countValue.isDouble() || count < least || double(count) != countValue.toDouble())
            return error(QStringLiteral("on: count must be a whole number from %1").arg(least));
    }

    const QJsonValue action = request.value(QStringLiteral("do"));
    const QString command = action.toObject().value(QStringLiteral("cmd")).toString();
    if (!action.isObject() || !m_commands.contains(command)) {
        return error(QStringLiteral("on: do must be a control request object with a known "
                                    "\"cmd\", e.g. {\"cmd\":\"set_fault\",\"fault\":"
                                    "\"card_misfeed\",\"on\":true}"));
    }
    const auto armedNow = std::count_if(m_triggers.begin(), m_triggers.end(),
                                        [](const Trigger &t) { return t.armed; });
    if (armedNow >= kMaxArmed)
        return error(QStringLiteral("on: %1 triggers are armed already").arg(armedNow));

    Trigger trigger;
    trigger.id = m_nextId++;
    trigger.event = event;
    trigger.count = count;
    trigger.remaining = count;
    trigger.repeat = repeat;
    trigger.request = action.toObject();
    if (event == Event::AfterMs) {
        trigger.timer = new QTimer(this);
        trigger.timer->setSingleShot(!repeat);
        connect(trigger.timer, &QTimer::timeout, this, [this, id = trigger.id] { fire(id); });
        trigger.timer->start(count);
    }
    m_triggers.push_back(std::move(trigger));
    return {{QStringLiteral("ok"), true}, {QStringLiteral("id"), m_triggers.back().id}};
}

QJsonObject Triggers::list() const
{
    QJsonArray armed;
    QJsonArray fired;
    for (const Trigger &trigger : m_triggers)
        (trigger.armed ? armed : fired).append(describe(trigger));
    return {{QStringLiteral("ok"), true},
            {QStringLiteral("armed"), armed},
            {QStringLiteral("fired"), fired}};
}

QJsonObject Triggers::clear()
{
    const auto armed = std::count_if(m_triggers.begin(), m_triggers.end(),
                                     [](const Trigger &t) { return t.armed; });
    for (const Trigger &trigger : m_triggers)
        dropTimer(trigger.timer);
    m_triggers.clear();
    return {{QStringLiteral("ok"), true}, {QStringLiteral("disarmed"), int(armed)}};
}

QJsonObject Triggers::describe(const Trigger &trigger)
{
    QJsonObject object{
        {QStringLiteral("id"), trigger.id},       {QStringLiteral("event"), nameOf(trigger.event)},
        {QStringLiteral("count"), trigger.count}, {QStringLiteral("repeat"), trigger.repeat},
        {QStringLiteral("do"), trigger.request},  {QStringLiteral("fired"), trigger.fired},
        {QStringLiteral("reply"), trigger.reply}};
    if (trigger.armed) {
        // A coarse timer may run a little late; it never shows more than its count.
        const int remaining = trigger.timer
                                  ? std::clamp(trigger.timer->remainingTime(), 0, trigger.count)
                                  : trigger.remaining;
        object.insert(QStringLiteral("remaining"), remaining);
    }
    if (trigger.replyDue)
        object.insert(QStringLiteral("reply_due"), true);
    return object;
}

Triggers::Trigger *Triggers::find(int id)
{
    const auto it = std::find_if(m_triggers.begin(), m_triggers.end(),
                                 [id](const Trigger &t) { return t.id == id; });
    return it == m_triggers.end() ? nullptr : &*it;
}

void Triggers::count(Event event)
{
    if (m_triggers.empty())
        return;
    // Those armed before this event; one armed by a firing counts from the next.
    std::vector<int> ids;
    for (const Trigger &trigger : m_triggers) {
        if (trigger.armed && trigger.event == event)
            ids.push_back(trigger.id);
    }
    for (int id : ids) {
        // A firing before it may have cleared it, or processed events that fired it already.
        Trigger *trigger = find(id);
        if (!trigger || !trigger->armed || --trigger->remaining > 0)
            continue;
        fire(id);
    }
}

void Triggers::fire(int id)
{
    Trigger *trigger = find(id);
    if (!trigger || !trigger->armed)
        return;
    const int firing = ++trigger->fired;
    if (trigger->repeat) {
        trigger->remaining = trigger->count;
    } else {
        trigger->armed = false;
        dropTimer(std::exchange(trigger->timer, nullptr));
    }
    trigger->reply = QJsonValue();
    trigger->replyDue = false;
    const QJsonObject request = trigger->request;
    forgetOldFired();

    // The request may process events, arm or clear triggers: nothing of the list is held
    // across it.
    std::optional<QJsonObject> reply;
    try {
        const QPointer<Triggers> self(this);
        reply = m_runner(request, [self, id, firing](const QJsonObject &later) {
            if (self)
                self->keepReply(id, firing, later);
        });
    } catch (const std::exception &e) {
        reply = error(QString::fromUtf8(e.what()));
    }
    if (reply) {
        keepReply(id, firing, *reply);
    } else if (Trigger *same = find(id); same && same->fired == firing) {
        same->replyDue = true;
    }
}

void Triggers::keepReply(int id, int firing, const QJsonObject &reply)
{
    // A repeating trigger keeps its latest firing's reply; an earlier one arriving late is
    // not it.
    Trigger *trigger = find(id);
    if (!trigger || trigger->fired != firing)
        return;
    trigger->reply = reply;
    trigger->replyDue = false;
}

void Triggers::forgetOldFired()
{
    auto fired = std::count_if(m_triggers.begin(), m_triggers.end(),
                               [](const Trigger &t) { return !t.armed; });
    for (auto it = m_triggers.begin(); fired > kMaxFiredKept && it != m_triggers.end();) {
        if (it->armed) {
            ++it;
            continue;
        }
        dropTimer(it->timer);
        it = m_triggers.erase(it);
        --fired;
    }
}
