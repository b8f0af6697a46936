#pragma once

#include "machineinterfaces.h"
#include "socketlistener.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>

class Machine;
class QTcpSocket;

// The TCP host link (`ServerSocket`): listens on all IPv4 addresses, keeps its connections in
// accept order, feeds every received chunk into the machine's receive buffer and sends each
// reply on the oldest connection still listed. It only carries bytes.
class TcpServerLink : public QObject, public HostLink
{
    Q_OBJECT
public:
    explicit TcpServerLink(Machine &machine, QObject *parent = nullptr);
    ~TcpServerLink() override;

    // Allowed only while closed; the socket layer gets the number's low 16 bits.
    void setPort(int port);
    int port() const { return m_port; }
    // Starts listening. Fails with "Windows-Socket-Fehler: %s (%d), bei API '%s'".
    void Open();
    // Drops every connection without the closed event, then stops listening.
    void Close();
    bool active() const { return m_active; }
    // Why the last Open() failed (the text it threw); empty once listening.
    QString openError() const { return m_openError; }
    // Closes every host connection as if the line had dropped (each host sees its connection
    // end); the server keeps listening.
    void dropConnections();
    // The port actually listened on (differs from port() only for port 0).
    quint16 listeningPort() const { return m_listener.port(); }

    int connectionCount() const { return static_cast<int>(m_connections.size()); }
    // Takes the connections the system has completed but not yet handed over (which happens
    // when the event loop serves the listening socket).
    void acceptWaiting() { m_listener.acceptWaiting(); }
    QTcpSocket *connection(int index) const { return m_connections.at(index); }

    void sendReply(const QString &text) override;

    // A reply larger than this that the connection has not yet drained is dropped, as a socket
    // that cannot take bytes at once drops them: a host that never reads cannot grow memory.
    static constexpr qint64 kMaxUnsentBytes = 64 * 1024;
    // What a connection's socket reads ahead of the read step.
    static constexpr qint64 kReadBufferBytes = 1024 * 1024;

signals:
    void clientConnected();
    void clientDisconnected();
    // "Asynchroner Socket-Fehler %d": accepting failed (announced once per run of failures).
    void acceptFailed(const QString &message);

private:
    void acceptConnection(int descriptor);
    void ServerSocketClientConnect(QTcpSocket *socket);
    void ServerSocketClientDisconnect(QTcpSocket *socket);
    void ServerSocketClientRead(QTcpSocket *socket);
    void ServerSocketClientError(QTcpSocket *socket);
    void readStep(QTcpSocket *socket);
    void release(QTcpSocket *socket);
    static bool isAlive(QTcpSocket *socket);

    Machine &m_machine;
    SocketListener m_listener;
    QList<QTcpSocket *> m_connections;
    // Sockets whose read step is queued, and what released ones still held for it.
    QSet<QTcpSocket *> m_readStepQueued;
    QHash<QTcpSocket *, QByteArray> m_releasedBytes;
    // Each connection's number, from 1 in accept order, which names its input in diagnostics.
    QHash<QTcpSocket *, int> m_connectionNumbers;
    QHash<QTcpSocket *, int> m_releasedNumbers;
    int m_connectionsAccepted = 0;
    int m_port = 10001;
    bool m_active = false;
    QString m_openError;
};
