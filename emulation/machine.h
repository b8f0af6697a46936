#pragma once

#include "diagnostic.h"
#include "emulatorstate.h"
#include "machineclock.h"
#include "machineinterfaces.h"
#include "receivebuffer.h"
#include "statustable.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <algorithm>
#include <deque>
#include <functional>
#include <vector>

// The simulated machine as the host sees it: its flags, the text received and not yet consumed,
// the receive dispatcher, the one reply path and the operator's three buttons.
//
// It announces what happens in its own terms (its display text, its activity indicator, the
// job's tag, the host line, the traffic in each direction); whoever shows the machine decides
// where. Its signals are emitted synchronously: a receiver that processes events (the traffic
// monitor does) runs the machine's handlers nested inside the emission.
//
// Everything runs on the GUI thread without locks. Waits process events, so the dispatcher and
// the buttons run nested inside each other's waits; every handler here tolerates that.
class Machine : public QObject
{
    Q_OBJECT
public:
    // Which way a piece of host traffic went.
    enum class Direction { Received, Sent };
    Q_ENUM(Direction)
    // The TCP host line as the machine sees it.
    enum class LinkState { Waiting, HostConnected };
    Q_ENUM(LinkState)

    Machine(SoundPlayer &sound, QString programFolder, QObject *parent = nullptr);

    EmulatorState &state() { return m_state; }
    const EmulatorState &state() const { return m_state; }
    MachineClock &clock() { return m_clock; }

    // Host input not yet consumed; the links append to it, the dispatcher and decoder clear it.
    ::ReceiveBuffer &ReceiveBuffer() { return m_receiveBuffer; }

    void addLink(HostLink *link);
    void removeLink(HostLink *link);
    void setInterpreter(MessageInterpreter *interpreter) { m_interpreter = interpreter; }
    // The serial link's receive step; a running job calls it after every strike. Until a
    // serial link is attached it only dispatches.
    void setSerialReceiveStep(std::function<void()> step) { m_serialReceiveStep = std::move(step); }
    void serialReceiveStep();

    // The one receive entry of every link: appends the chunk to ReceiveBuffer, logs it and
    // dispatches once, also for an empty chunk. Each chunk reaches the dispatcher on its own:
    // a chunk that comes while an earlier one is being logged (logging processes events) waits
    // until that earlier one has been dispatched. `from` names the link for diagnostics.
    void receive(const QString &chunk, HostLinkId from = {});

    // Consumes at most one request from ReceiveBuffer and answers it.
    void DispatchReceived();
    // Logs the reply and sends it on every open link.
    void SendReply(const QString &text);

    void btnResetClick();
    void btnPauseClick();
    void btnClearClick();

    void PumpedDelay(int32_t ms) { m_clock.PumpedDelay(ms); }
    // Plays a sound file from the program's folder by name ("reset.wav", "Emboss.wav").
    void PlaySoundFile(const QString &name);
    QString programFolder() const { return m_programFolder; }

    // The operator's fault switches, read at every poll.
    void setFaultSwitches(const FaultSwitches &faults) { m_faults = faults; }
    FaultSwitches faultSwitches() const { return m_faults; }

    // The activity indicator: it toggles at every dispatch, and a finished message turns it
    // off before that toggle.
    bool activity() const { return m_activity; }
    // The tag of the emboss data decoded last.
    QString jobTag() const { return m_jobTag; }
    void setJobTag(const QString &tag);
    // The links tell when a host connects or goes.
    LinkState linkState() const { return m_linkState; }
    void setLinkState(LinkState state);

    // Line faults a test rig injects to exercise a host's time-outs; none by default.
    // Every reply reaches the links this many milliseconds late (the log shows it at once).
    void setReplyDelay(int ms) { m_replyDelayMs = std::max(0, ms); }
    int replyDelay() const { return m_replyDelayMs; }
    // The next `count` polls are consumed but not answered.
    void ignoreNextPolls(int count) { m_pollsToIgnore = std::max(0, count); }
    int pollsToIgnore() const { return m_pollsToIgnore; }

    // True while a dispatch, a reset or a clear sequence is on the stack (jobs run inside a
    // dispatch). The window defers its close until these have run to their end.
    bool longActionRunning() const { return m_actionDepth > 0; }

    // How deep messages decoded during a job may nest (each holds a job's frames and waits on
    // the stack), and how many may wait beyond that for the running job: far more than a host
    // that waits for its acknowledgements ever sends, far less than overflows the stack.
    static constexpr int kMaxMessageDepth = 16;
    static constexpr size_t kMaxWaitingMessages = 256;
    static constexpr qsizetype kMaxWaitingCharacters = 16 * 1024 * 1024;

    // ---- Diagnosis of what the host sent ----
    // The link of the chunk being dispatched now (a reply answers it); restored when a chunk
    // dispatched nested inside a job has been handled.
    HostLinkId currentLink() const { return m_currentLink; }
    // Milliseconds since the machine was made: the time base of diagnostics and jobs.
    double sinceStartMs() const { return m_started.nsecsElapsed() / 1e6; }
    // Whether anyone listens to diagnosed(); callers compose no message otherwise.
    bool diagnosing() const;
    // Announces a diagnostic with the next sequence number, the time, the current link and the
    // running job.
    void diagnose(const char *code, const QString &message);
    // The innermost job running now (0: none); the decoder keeps it.
    int runningJob() const { return m_runningJob; }
    void setRunningJob(int job) { m_runningJob = job; }
    void announceJobFinished(const FinishedJob &job) { emit jobFinished(job); }
    // ---- end of the diagnosis ----

signals:
    // The display shows this text now (announced at every set, also when it is the same).
    void displayTextChanged(const QString &text);
    void activityChanged(bool on);
    void jobTagChanged(const QString &tag);
    void linkStateChanged(Machine::LinkState state);
    // Host input as each chunk arrived, and each reply followed by one blank.
    void traffic(Machine::Direction direction, const QString &text);
    // Reset or Clear has erased the card: its picture is to be drawn afresh.
    void cardErased();
    // The outermost dispatch, reset or clear sequence has returned.
    void longActionsEnded();
    // A complete message was acknowledged but dropped: too many were waiting already.
    void messageDropped(const QString &reason);
    // Host data met one of the machine's surprising rules (see Diagnostic).
    void diagnosed(const Diagnostic &diagnostic);
    // An emboss job has ended (done, stopped by Reset, or failed), after its final rest.
    void jobFinished(const FinishedJob &job);
    // A poll has been answered with this status row (its reply is on its way to the host).
    void statusReplied(const StatusRow &row);

    // Moments a test rig can hang an action on, announced at exactly that point, so that what
    // a receiver changes applies there: a poll has been recognised and its reply row is not
    // chosen yet; a complete message has been acknowledged and is not decoded yet; a job has
    // set Busy, or cleared it; a glyph is on the card and the job has not looked at its flags
    // again.
    void pollRecognised();
    void messageComplete();
    void jobStarted();
    void jobEnded();
    void strikeDrawn();

private:
    friend class LongAction;
    void actionStarted() { ++m_actionDepth; }
    void actionEnded();
    void showDisplayText(const QString &text) { emit displayTextChanged(text); }
    void setActivity(bool on);
    void toggleActivity() { setActivity(!m_activity); }
    void dispatchPendingChunks();
    void interpretNested(const QString &message);
    void interpret(const QString &message);
    void sendOnLinks(const QString &text);
    void resetOrClearSequence();
    void diagnosePollLeftovers(const QString &buffer);

    SoundPlayer &m_sound;
    QString m_programFolder;
    EmulatorState m_state;
    MachineClock m_clock;
    ::ReceiveBuffer m_receiveBuffer;
    std::vector<HostLink *> m_links;
    MessageInterpreter *m_interpreter = nullptr;
    std::function<void()> m_serialReceiveStep;
    struct Chunk {
        QString text;
        HostLinkId from;
    };
    std::deque<Chunk> m_pendingChunks;
    bool m_loggingChunk = false;
    int m_messageDepth = 0;
    std::deque<QString> m_waitingMessages;
    qsizetype m_waitingCharacters = 0;
    bool m_dropReported = false;
    int m_actionDepth = 0;
    int m_replyDelayMs = 0;
    int m_pollsToIgnore = 0;
    FaultSwitches m_faults;
    bool m_activity = false;
    QString m_jobTag;
    LinkState m_linkState = LinkState::Waiting;
    // The diagnosis.
    QElapsedTimer m_started;
    HostLinkId m_currentLink;
    quint64 m_diagnosticCount = 0;
    int m_runningJob = 0;
};
