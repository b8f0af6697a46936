#pragma once

#include <QHash>
#include <QJsonObject>
#include <QObject>

#include "socketlistener.h"

#include <deque>

class QTcpSocket;
class QTimer;
class TfrmVorlak;

// The test rig's control port: newline-delimited JSON on 127.0.0.1 only, one request object
// per line, one reply object per line, in order. It presses the operator's buttons, sets the
// fault check boxes, reads the machine's state, waits for the machine to be idle, injects line
// faults and ends the program. It is off unless --control-port is given.
class ControlServer : public QObject
{
    Q_OBJECT
public:
    explicit ControlServer(TfrmVorlak &window, QObject *parent = nullptr);
    ~ControlServer() override;

    // Listens on 127.0.0.1 only; returns false with errorString() when that fails.
    bool listen(quint16 port);
    quint16 port() const { return m_listener.port(); }
    QString errorString() const { return m_listenError; }

    // Handles one request and gives its reply, or an empty object when the reply comes later
    // (wait_idle); exposed for tests.
    QJsonObject handle(const QJsonObject &request, QTcpSocket *client);

signals:
    void quitRequested();

private:
    struct Client {
        QByteArray buffer;
        std::deque<QByteArray> lines; // requests waiting behind a wait_idle
        QTimer *waitTimer = nullptr;  // set while a wait_idle is pending
    };

    void acceptConnection(int descriptor);
    void readClient(QTcpSocket *socket);
    void processLines(QTcpSocket *socket);
    void reply(QTcpSocket *socket, const QJsonObject &object);
    void finishWait(QTcpSocket *socket, bool idle);
    void checkWaits();
    bool machineIdle() const;

    QJsonObject stateObject() const;
    QJsonObject faultsObject() const;
    QJsonObject formatObject() const;
    QJsonObject glyphsObject() const;

    TfrmVorlak &m_window;
    SocketListener m_listener;
    QString m_listenError;
    QHash<QTcpSocket *, Client> m_clients;
    int m_pendingPresses = 0; // clicks queued but not yet run
};
