#pragma once

#include "controlcommands.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>

#include "socketlistener.h"

#include <deque>

class ErrorReporter;
class QTcpSocket;
class TfrmVorlak;

// The test rig's control port: newline-delimited JSON on 127.0.0.1 only, one request object
// per line, one reply object per line, in order. The requests are the command table's
// (ControlCommands): this is only their transport. It is off unless --control-port is given.
// Each connection has bounded memory: at most kMaxQueuedRequests requests (and kMaxQueuedBytes)
// waiting behind a wait_idle, at most kMaxUnsentBytes of replies the client has not read; past
// a bound the connection is closed.
class ControlServer : public QObject
{
    Q_OBJECT
public:
    static constexpr std::size_t kMaxQueuedRequests = 1000;
    static constexpr qsizetype kMaxQueuedBytes = 4 * 1024 * 1024;
    static constexpr qint64 kMaxUnsentBytes = 4 * 1024 * 1024;
    static constexpr int kMaxNestedPresses = ControlCommands::kMaxNestedPresses;
    static constexpr std::size_t kMaxQueuedPresses = ControlCommands::kMaxQueuedPresses;

    // The error list is the application's (VorlakApplication) unless one is given.
    explicit ControlServer(TfrmVorlak &window, QObject *parent = nullptr);
    ControlServer(TfrmVorlak &window, ErrorReporter &errors, QObject *parent = nullptr);
    ~ControlServer() override;

    // Listens on 127.0.0.1 only; returns false with errorString() when that fails.
    bool listen(quint16 port);
    quint16 port() const { return m_listener.port(); }
    QString errorString() const { return m_listenError; }

    // Where save_card may write; the window's data folder until set.
    void setExportFolder(const QString &folder) { m_commands.setExportFolder(folder); }
    // A non-empty token must come with every request as "token".
    void setToken(const QString &token) { m_commands.setToken(token); }

    // The table the requests run in; another front may run requests in it too.
    ControlCommands &commands() { return m_commands; }

    // Handles one request (without the token check) and gives its reply, or an empty object
    // when the reply comes later (wait_idle) and goes to `client`; exposed for tests.
    QJsonObject handle(const QJsonObject &request, QTcpSocket *client);

signals:
    void quitRequested();

private:
    ControlServer(TfrmVorlak &window, ErrorReporter *errors, QObject *parent);

    struct Client {
        QByteArray buffer;
        std::deque<QByteArray> lines; // requests waiting behind a wait_idle
        bool waiting = false;         // a wait_idle is pending
        qsizetype queuedBytes = 0;    // the size of `lines`
        bool closing = false;         // a bound was passed: the rest of its input is dropped
    };

    void acceptConnection(int descriptor);
    void readClient(QTcpSocket *socket);
    void processLines(QTcpSocket *socket);
    void reply(QTcpSocket *socket, const QJsonObject &object);
    // The reply now, or the client marked as waiting for the later one.
    QJsonObject answer(QTcpSocket *socket, const ControlCommands::Result &result);
    ControlCommands::Reply laterReplyTo(QTcpSocket *socket);
    void finishWait(QTcpSocket *socket, const QJsonObject &object);
    void dropClient(QTcpSocket *socket, const QString &why);

    ControlCommands m_commands;
    SocketListener m_listener;
    QString m_listenError;
    QHash<QTcpSocket *, Client> m_clients;
};
