#pragma once

#include <QJsonObject>
#include <QObject>
#include <QPointer>

#include <vector>

class ErrorReporter;
class QTcpSocket;
class QTimer;
class TfrmVorlak;

// The HTTP front's event stream (Server-Sent Events): every display change, status reply,
// strike, card wipe, job start and end, diagnostic, reported error and traffic line, as one
// event each with a JSON object in the control port's own forms. Nothing here waits for a
// client: a client that has more than kMaxUnsentBytes not yet taken misses the events meanwhile
// (counted; once it takes bytes again, a "dropped" event tells it how many it missed), so a
// client that never reads costs bounded memory and no time.
class EventStream : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kMaxUnsentBytes = 1024 * 1024;
    // A comment line this often keeps proxies and idle clients from closing the stream.
    static constexpr int kKeepAliveMs = 15000;
    // Connections streamed to at once; one more is refused (503).
    static constexpr int kMaxClients = 64;

    // `errors` may be null: no error events then.
    EventStream(TfrmVorlak &window, ErrorReporter *errors, QObject *parent = nullptr);
    ~EventStream() override;

    // Takes the connection over: writes the response head, then every event from now on, until
    // the client goes. False (and nothing written) when kMaxClients are streamed to already.
    bool subscribe(QTcpSocket *socket);

    int clientCount() const { return static_cast<int>(m_clients.size()); }
    // Events left out for clients that did not read, since start.
    qint64 droppedEvents() const { return m_droppedTotal; }

    // One event to every client: "event: NAME", "data: JSON".
    void publish(const char *name, const QJsonObject &data);

private:
    struct Client {
        QPointer<QTcpSocket> socket;
        qint64 dropped = 0; // events it missed since it last took one
    };

    void connectMachine(TfrmVorlak &window, ErrorReporter *errors);
    void keepAlive();
    void forgetGoneClients();

    std::vector<Client> m_clients;
    qint64 m_droppedTotal = 0;
    QString m_lastDisplay; // as the stream last told it
    QTimer *m_keepAlive = nullptr;
};
