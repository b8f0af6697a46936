#pragma once

#include "eventstream.h"
#include "pngencoder.h"

#include <QAbstractHttpServer>
#include <QHash>
#include <QHostAddress>
#include <QString>

#include <deque>

class ControlCommands;
class ErrorReporter;
class HttpListener;
class QHttpServerRequest;
class QTcpSocket;
class TfrmVorlak;

// The test rig's HTTP front, on Qt's HTTP server module: the control requests (the same table
// as the control port's, not a copy), the machine's state, the card picture, its events as a
// stream, a health check, and the live page. Off unless --http-port is given.
//
// With a token set, every request but the page's own files (which hold no machine data) must
// say "Authorization: Bearer TOKEN". None of the refusals (401, 404, 405, 400, 413) reaches the
// machine.
//
// Each connection gets its answers in the order of its requests: a request that comes while an
// answer is still to come (wait_idle's, a card picture being encoded) waits its turn.
class HttpFront : public QAbstractHttpServer
{
    Q_OBJECT
public:
    // Requests one connection may have waiting behind an answer still to come; past that the
    // connection is closed.
    static constexpr std::size_t kMaxWaitingRequests = 100;

    // `errors` may be null: no error events then.
    HttpFront(TfrmVorlak &window, ControlCommands &commands, ErrorReporter *errors,
              QObject *parent = nullptr);
    ~HttpFront() override;

    // False with errorString() when the address cannot be listened on.
    bool listen(const QHostAddress &address, quint16 port);
    quint16 port() const;
    QString errorString() const { return m_listenError; }

    void setToken(const QString &token) { m_token = token.toUtf8(); }

    const EventStream &events() const { return m_events; }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    // What the front needs of a request, copied: the module reuses its request object for the
    // connection's next one.
    struct Request {
        QByteArray method;
        QString path;
        QByteArray authorization;
        QByteArray body;
        bool close = false; // "Connection: close"
    };
    enum class Access { Open, Token };
    // Gives whether the request is answered now; otherwise the answer calls answered() later.
    using Handler = bool (HttpFront::*)(const Request &, QTcpSocket *);
    struct Route {
        const char *path;
        const char *method; // the one it takes: "GET" or "POST"
        Access access;
        Handler handler;
        // A file of the live page instead: its resource and type.
        const char *resource = nullptr;
        const char *contentType = nullptr;
    };
    static const Route kRoutes[];
    struct Connection {
        bool answering = false; // an answer is still to come
        std::deque<Request> waiting;
    };

    void serve(const Request &request, QTcpSocket *socket);
    bool route(const Request &request, QTcpSocket *socket);
    // The connection's current answer has gone out: its next request, if any, is served.
    void answered(QTcpSocket *socket);

    bool command(const Request &request, QTcpSocket *socket);
    bool state(const Request &request, QTcpSocket *socket);
    bool cardPicture(const Request &request, QTcpSocket *socket);
    bool eventStream(const Request &request, QTcpSocket *socket);
    bool health(const Request &request, QTcpSocket *socket);
    void page(const Route &route, const Request &request, QTcpSocket *socket);

    bool authorised(const Request &request) const;

    TfrmVorlak &m_window;
    ControlCommands &m_commands;
    EventStream m_events;
    PngEncoder m_pngEncoder;
    HttpListener *m_listener = nullptr;
    QByteArray m_token;
    QString m_listenError;
    QHash<QTcpSocket *, Connection> m_connections;
};
