#pragma once

#include "eventstream.h"
#include "pngencoder.h"

#include <QAbstractHttpServer>
#include <QHostAddress>
#include <QString>

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
class HttpFront : public QAbstractHttpServer
{
    Q_OBJECT
public:
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
    enum class Access { Open, Token };
    using Handler = void (HttpFront::*)(const QHttpServerRequest &, QTcpSocket *, bool close);
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

    void command(const QHttpServerRequest &request, QTcpSocket *socket, bool close);
    void state(const QHttpServerRequest &request, QTcpSocket *socket, bool close);
    void cardPicture(const QHttpServerRequest &request, QTcpSocket *socket, bool close);
    void eventStream(const QHttpServerRequest &request, QTcpSocket *socket, bool close);
    void health(const QHttpServerRequest &request, QTcpSocket *socket, bool close);
    void page(const Route &route, QTcpSocket *socket, bool close);

    bool authorised(const QHttpServerRequest &request) const;

    TfrmVorlak &m_window;
    ControlCommands &m_commands;
    EventStream m_events;
    PngEncoder m_pngEncoder;
    HttpListener *m_listener = nullptr;
    QByteArray m_token;
    QString m_listenError;
};
