#pragma once

#include "exportfolder.h"
#include "frmvorlak.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

class ErrorReporter;
class JobArchive;
class QTimer;
class Triggers;

// The test rig's commands, one function each, found by name in one table: press the operator's
// buttons, set the fault check boxes, read the machine's state, wait for the machine to be
// idle, inject line faults, read the error list, end the program. It knows no transport: the
// control port feeds it request lines and writes out its replies, and any other front gives the
// same request objects the same replies. Every reply is an object with "ok" (and "error" when
// false). Files it writes go only into its export folder; with a token set, every request line
// must carry it.
class ControlCommands : public QObject
{
    Q_OBJECT
public:
    // A reply that comes after run() has returned (wait_idle's).
    using Reply = std::function<void(const QJsonObject &reply)>;
    using Result = std::optional<QJsonObject>;

    // Presses nested inside each other's reset or clear sequence; more wait their turn.
    static constexpr int kMaxNestedPresses = 8;
    static constexpr std::size_t kMaxQueuedPresses = 100000;

    // `errors` may be null: the error list is then empty.
    ControlCommands(TfrmVorlak &window, ErrorReporter *errors, QObject *parent = nullptr);
    ~ControlCommands() override;

    // Where save_card may write; the window's data folder until set.
    void setExportFolder(const QString &folder) { m_exportFolder.setFolder(folder); }
    // The job archive "jobs" lists; none until set (--job-dir).
    void setJobArchive(const JobArchive *archive) { m_jobArchive = archive; }
    // A non-empty token must come with every request line as "token".
    void setToken(const QString &token) { m_token = token; }

    // One request line as a connection received it (without its line end, not blank): read
    // strictly (one JSON object, no key twice), checked for the token, then run.
    Result runLine(const QByteArray &line, const QObject *context, Reply later);
    // A request already read with ControlRequest::parse (a front that tells a malformed request
    // apart, as HTTP does with 400): checked for the token, then run, as runLine runs it.
    Result runWithToken(const QJsonObject &request, const QObject *context, Reply later);
    // Runs one request, without the token check, and returns its reply, or nothing when the
    // reply comes later: then `later` gets it exactly once, from the event loop, unless
    // `context` is destroyed or cancelWait(context) runs first. A context has at most one reply
    // pending (the transport holds back what the same requester sends meanwhile).
    Result run(const QJsonObject &request, const QObject *context, Reply later);
    // The reply still owed to `context`, if any, is never given.
    void cancelWait(const QObject *context);

    // The command names, in the order the table holds them.
    static QStringList names();

signals:
    // "quit" was asked for; announced from the event loop, after the reply has gone out.
    void quitRequested();

private:
    struct Call {
        const QJsonObject &request;
        const QObject *context;
        Reply &later;
    };
    using Command = Result (ControlCommands::*)(const Call &);
    struct Entry {
        const char *name;
        Command command;
    };
    static const Entry kTable[];

    Result press(const Call &call);
    Result setFault(const Call &call);
    Result faults(const Call &call);
    Result state(const Call &call);
    Result waitIdle(const Call &call);
    Result serialPort(const Call &call);
    Result glyphs(const Call &call);
    Result saveCard(const Call &call);
    Result errors(const Call &call);
    Result dismissError(const Call &call);
    Result monitor(const Call &call);
    Result logs(const Call &call);
    Result clearLogs(const Call &call);
    Result replyDelay(const Call &call);
    Result ignorePolls(const Call &call);
    Result disconnectHost(const Call &call);
    Result quit(const Call &call);
    // Triggers: actions armed on the machine's moments, run through this table.
    Result on(const Call &call);
    Result triggers(const Call &call);
    Result clearTriggers(const Call &call);
    // Host-data diagnosis.
    Result diagnostics(const Call &call);
    // Job archive.
    Result jobs(const Call &call);

    QJsonObject logsObject(bool clear);
    QJsonObject faultsObject() const;
    QJsonObject formatObject() const;
    bool tokenAccepted(const QJsonObject &request) const;

    // Presses run from the event loop, one per event round.
    void runNextPress();
    // Whether no press waits or runs and no job, reset or clear sequence runs.
    bool machineIdle() const;
    // Answers every pending wait_idle once the machine has come to rest.
    void checkWaits();
    void finishWait(quint64 id, const QJsonObject &reply);

    struct Wait {
        quint64 id;
        const QObject *context;
        QTimer *timer; // its timeout answers "still busy"
        Reply later;
        QMetaObject::Connection contextGone;
    };

    TfrmVorlak &m_window;
    ErrorReporter *m_errors = nullptr;
    ExportFolder m_exportFolder;
    QString m_token;
    // Clicks queued but not yet run, one per event round (host input is served between).
    std::deque<TfrmVorlak::OperatorButton> m_pressQueue;
    QTimer *m_pressTimer = nullptr;
    int m_pressesRunning = 0;
    std::vector<Wait> m_waits;
    quint64 m_nextWaitId = 0;
    Triggers *m_triggers = nullptr;
    const JobArchive *m_jobArchive = nullptr;
};
