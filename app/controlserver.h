#pragma once

#include "exportfolder.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>

#include "socketlistener.h"

#include <deque>

class ErrorReporter;
class QPushButton;
class QTcpSocket;
class QTimer;
class TfrmVorlak;

// The test rig's control port: newline-delimited JSON on 127.0.0.1 only, one request object
// per line, one reply object per line, in order. It presses the operator's buttons, sets the
// fault check boxes, reads the machine's state, waits for the machine to be idle, injects line
// faults, reads the error list and ends the program. It is off unless --control-port is
// given. Files it writes go only into its export folder; with a token set, every request must
// carry it. Each connection has bounded memory: at most kMaxQueuedRequests requests (and
// kMaxQueuedBytes) waiting behind a wait_idle, at most kMaxUnsentBytes of replies the client
// has not read; past a bound the connection is closed.
class ControlServer : public QObject
{
    Q_OBJECT
public:
    static constexpr std::size_t kMaxQueuedRequests = 1000;
    static constexpr qsizetype kMaxQueuedBytes = 4 * 1024 * 1024;
    static constexpr qint64 kMaxUnsentBytes = 4 * 1024 * 1024;
    // Presses nested inside each other's reset or clear sequence; more wait their turn.
    static constexpr int kMaxNestedPresses = 8;
    static constexpr std::size_t kMaxQueuedPresses = 100000;

    // The error list is the application's (VorlakApplication) unless one is given.
    explicit ControlServer(TfrmVorlak &window, QObject *parent = nullptr);
    ControlServer(TfrmVorlak &window, ErrorReporter &errors, QObject *parent = nullptr);
    ~ControlServer() override;

    // Listens on 127.0.0.1 only; returns false with errorString() when that fails.
    bool listen(quint16 port);
    quint16 port() const { return m_listener.port(); }
    QString errorString() const { return m_listenError; }

    // Where save_card may write; the window's data folder until set.
    void setExportFolder(const QString &folder) { m_exportFolder.setFolder(folder); }
    // A non-empty token must come with every request as "token".
    void setToken(const QString &token) { m_token = token; }

    // Handles one request and gives its reply, or an empty object when the reply comes later
    // (wait_idle); exposed for tests.
    QJsonObject handle(const QJsonObject &request, QTcpSocket *client);

signals:
    void quitRequested();

private:
    ControlServer(TfrmVorlak &window, ErrorReporter *errors, QObject *parent);

    struct Client {
        QByteArray buffer;
        std::deque<QByteArray> lines; // requests waiting behind a wait_idle
        QTimer *waitTimer = nullptr;  // set while a wait_idle is pending
        qsizetype queuedBytes = 0;    // the size of `lines`
        bool closing = false;         // a bound was passed: the rest of its input is dropped
    };

    void acceptConnection(int descriptor);
    void readClient(QTcpSocket *socket);
    void processLines(QTcpSocket *socket);
    void reply(QTcpSocket *socket, const QJsonObject &object);
    void finishWait(QTcpSocket *socket, bool idle);
    void checkWaits();
    void dropClient(QTcpSocket *socket, const QString &why);
    bool tokenAccepted(const QJsonObject &request) const;
    QJsonObject press(const QJsonObject &request);
    void runNextPress();
    QJsonObject errorsObject(const QJsonObject &request);
    QJsonObject saveCard(const QJsonObject &request);
    bool machineIdle() const;

    QJsonObject stateObject() const;
    QJsonObject faultsObject() const;
    QJsonObject formatObject() const;
    QJsonObject glyphsObject() const;

    TfrmVorlak &m_window;
    SocketListener m_listener;
    QString m_listenError;
    QHash<QTcpSocket *, Client> m_clients;
    int m_waitingClients = 0; // clients whose waitTimer is set
    ErrorReporter *m_errors = nullptr;
    ExportFolder m_exportFolder;
    QString m_token;
    // Clicks queued but not yet run, one per event round (host input is served between).
    std::deque<QPushButton *> m_pressQueue;
    QTimer *m_pressTimer = nullptr;
    int m_pressesRunning = 0;
};
