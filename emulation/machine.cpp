#include "machine.h"

#include "protocol.h"

#include <QMetaMethod>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace
{
constexpr qsizetype kPollLength = 4; // EOT "31" ENQ
} // namespace

// Marks a dispatch or a button sequence as running for as long as it is on the stack.
class LongAction
{
public:
    explicit LongAction(Machine &machine) : m_machine(machine) { m_machine.actionStarted(); }
    ~LongAction() { m_machine.actionEnded(); }
    LongAction(const LongAction &) = delete;
    LongAction &operator=(const LongAction &) = delete;

private:
    Machine &m_machine;
};

Machine::Machine(SoundPlayer &sound, QString programFolder, QObject *parent)
    : QObject(parent), m_sound(sound), m_programFolder(std::move(programFolder))
{
    m_started.start();
}

void Machine::addLink(HostLink *link)
{
    if (std::find(m_links.begin(), m_links.end(), link) == m_links.end())
        m_links.push_back(link);
}

void Machine::removeLink(HostLink *link)
{
    m_links.erase(std::remove(m_links.begin(), m_links.end(), link), m_links.end());
}

void Machine::serialReceiveStep()
{
    if (m_serialReceiveStep)
        m_serialReceiveStep();
    else
        DispatchReceived();
}

void Machine::receive(const QString &chunk, HostLinkId from)
{
    m_pendingChunks.push_back({chunk, from});
    // The step that is logging its chunk takes this one once its own has been dispatched.
    if (m_loggingChunk)
        return;
    try {
        dispatchPendingChunks();
    } catch (...) {
        // The failure ends its own step only: chunks behind it are not left to wait for the
        // next input.
        if (!m_pendingChunks.empty())
            QTimer::singleShot(0, this, [this] { dispatchPendingChunks(); });
        throw;
    }
}

void Machine::dispatchPendingChunks()
{
    while (!m_pendingChunks.empty() && !m_loggingChunk) {
        const QString next = std::move(m_pendingChunks.front().text);
        const HostLinkId outerLink = std::exchange(m_currentLink, m_pendingChunks.front().from);
        const auto restoreLink = qScopeGuard([this, outerLink] { m_currentLink = outerLink; });
        m_pendingChunks.pop_front();
        m_receiveBuffer.append(next);
        {
            m_loggingChunk = true;
            const auto logged = qScopeGuard([this] { m_loggingChunk = false; });
            emit traffic(Direction::Received, next);
        }
        // A job started here receives later chunks through this entry and dispatches them
        // inside itself, as the machine answers polls during a job.
        DispatchReceived();
    }
}

void Machine::actionEnded()
{
    if (--m_actionDepth == 0)
        emit longActionsEnded();
}

void Machine::setActivity(bool on)
{
    if (m_activity == on)
        return;
    m_activity = on;
    emit activityChanged(on);
}

void Machine::setJobTag(const QString &tag)
{
    m_jobTag = tag;
    emit jobTagChanged(tag);
}

void Machine::setLinkState(LinkState state)
{
    m_linkState = state;
    emit linkStateChanged(state);
}

void Machine::DispatchReceived()
{
    if (m_state.Closing)
        return;
    LongAction action(*this);
    static const QString resetRequest = Protocol::resetRequest();
    try {
        ::ReceiveBuffer &buffer = m_receiveBuffer;
        if (buffer.isEmpty()) {
            // nothing to look at
        } else if (buffer.text().back() == QChar(Protocol::ETX)) {
            // A complete message: acknowledged before it is decoded, whatever its header. The
            // decoder works on its own copy; input arriving meanwhile starts a fresh buffer.
            showDisplayText(QStringLiteral("BUSY"));
            SendReply(Protocol::ack('2'));
            const QString message = buffer.text();
            buffer.clear();
            emit messageComplete();
            interpretNested(message);
            setActivity(false);
            buffer.clear();
        } else if (buffer.text() == resetRequest) {
            btnResetClick();
            buffer.clear();
            // The host's reset request clears Paused even while the machine is powered on.
            m_state.Paused = false;
        } else if (buffer.containsPoll()) {
            // Anything before or after the poll goes with it.
            // A buffer that holds the poll and nothing else is exactly the poll's length.
            if (buffer.size() > kPollLength && diagnosing())
                diagnosePollLeftovers(buffer.text());
            buffer.clear();
            emit pollRecognised();
            if (m_pollsToIgnore > 0) {
                --m_pollsToIgnore; // an injected line fault: this poll is lost on its way
            } else {
                const StatusRow row = currentStatus(m_state, m_faults);
                SendReply(row.reply);
                showDisplayText(row.displayText);
                emit statusReplied(row);
            }
        }
        // Otherwise the request is not complete yet: the buffer waits for more input.
    } catch (...) {
        toggleActivity();
        throw;
    }
    toggleActivity();
}

// A message decoded during a job runs inside that job, up to kMaxMessageDepth messages deep.
// Deeper ones wait, in order, until the innermost running message returns; past the waiting
// bound they are dropped (they have been acknowledged already), reported once per run of drops.
void Machine::interpretNested(const QString &message)
{
    if (m_messageDepth >= kMaxMessageDepth) {
        if (m_waitingMessages.size() < kMaxWaitingMessages &&
            m_waitingCharacters + message.size() <= kMaxWaitingCharacters) {
            m_waitingCharacters += message.size();
            m_waitingMessages.push_back(message);
            return;
        }
        if (diagnosing()) {
            diagnose(DiagnosticCode::MessageDropped,
                     QStringLiteral("a message (\"%1\") was acknowledged but dropped: %2 "
                                    "messages already wait for the running job")
                         .arg(describeHostText(message))
                         .arg(m_waitingMessages.size()));
        }
        if (!m_dropReported) {
            m_dropReported = true;
            emit messageDropped(QStringLiteral("Host message dropped: %1 messages are already "
                                               "waiting for the running job")
                                    .arg(m_waitingMessages.size()));
        }
        return;
    }
    ++m_messageDepth;
    const auto leave = qScopeGuard([this] { --m_messageDepth; });
    interpret(message);
    // The innermost message has returned: those that waited for it run here, one after the
    // other (messages decoded meanwhile nest in them or wait behind them).
    while (!m_waitingMessages.empty()) {
        const QString next = std::move(m_waitingMessages.front());
        m_waitingMessages.pop_front();
        m_waitingCharacters -= next.size();
        if (m_waitingMessages.empty())
            m_dropReported = false;
        interpret(next);
    }
}

void Machine::interpret(const QString &message)
{
    if (m_interpreter)
        m_interpreter->InterpretMessage(message);
}

void Machine::SendReply(const QString &text)
{
    emit traffic(Direction::Sent, text + QLatin1Char(' '));
    if (m_replyDelayMs > 0) {
        // Timers of equal length fire in the order they were started: replies keep their order.
        QTimer::singleShot(m_replyDelayMs, this, [this, text] { sendOnLinks(text); });
        return;
    }
    sendOnLinks(text);
}

void Machine::sendOnLinks(const QString &text)
{
    // Logging may process events; a link may be gone by then, so walk a copy.
    const std::vector<HostLink *> links = m_links;
    for (HostLink *link : links)
        link->sendReply(text);
}

void Machine::btnPauseClick()
{
    m_state.Paused = !m_state.Paused;
}

void Machine::btnResetClick()
{
    if (m_state.PoweredOn)
        return;
    LongAction action(*this);
    showDisplayText(QStringLiteral("IN RESET"));
    m_state.InReset = true;
    m_state.Paused = false;
    m_state.Busy = false;
    m_state.AbortRequested = true;
    resetOrClearSequence();
}

void Machine::btnClearClick()
{
    if (m_state.Paused) {
        m_state.ClearRequested = true;
        return;
    }
    LongAction action(*this);
    m_state.PoweredOn = false;
    m_state.InReset = true;
    showDisplayText(QStringLiteral("IN RESET"));
    resetOrClearSequence();
}

// The part that Reset and Clear share: the reset sound, two seconds, READY, an erased card.
void Machine::resetOrClearSequence()
{
    PlaySoundFile(QStringLiteral("reset.wav"));
    PumpedDelay(2000);
    m_state.InReset = false;
    showDisplayText(QStringLiteral("READY"));
    emit cardErased();
}

void Machine::PlaySoundFile(const QString &name)
{
    m_sound.PlaySoundFile(m_programFolder + name);
}

bool Machine::diagnosing() const
{
    static const QMetaMethod signal = QMetaMethod::fromSignal(&Machine::diagnosed);
    return isSignalConnected(signal);
}

void Machine::diagnose(const char *code, const QString &message)
{
    Diagnostic diagnostic;
    diagnostic.sequence = ++m_diagnosticCount;
    diagnostic.tMs = sinceStartMs();
    diagnostic.time = QDateTime::currentDateTimeUtc();
    diagnostic.link = m_currentLink;
    diagnostic.job = m_runningJob;
    diagnostic.code = QString::fromLatin1(code);
    diagnostic.message = message;
    emit diagnosed(diagnostic);
}

// A poll takes the whole buffer with it: say what else it took.
void Machine::diagnosePollLeftovers(const QString &buffer)
{
    const QString poll = Protocol::poll();
    const qsizetype pollAt = buffer.indexOf(poll);
    const qsizetype messageAt = buffer.indexOf(QChar(Protocol::SOH));
    const qsizetype others = buffer.size() - poll.size();
    if (messageAt >= 0) {
        diagnose(DiagnosticCode::MessageLostToPoll,
                 QStringLiteral("a poll at character %1 came with the start of a message (SOH "
                                "at character %2) in the same input: the poll is answered, the "
                                "%3 other characters (\"%4\") are lost")
                     .arg(pollAt + 1)
                     .arg(messageAt + 1)
                     .arg(others)
                     .arg(describeHostText(QString(buffer).remove(pollAt, poll.size()))));
        return;
    }
    diagnose(DiagnosticCode::StrayBytesDropped,
             QStringLiteral("a poll at character %1 came with %2 other characters (\"%3\"): "
                            "they are dropped with it")
                 .arg(pollAt + 1)
                 .arg(others)
                 .arg(describeHostText(QString(buffer).remove(pollAt, poll.size()))));
}
