#include "httpfront.h"

#include "controlcommands.h"
#include "controlrequest.h"
#include "frmvorlak.h"
#include "httplistener.h"
#include "httpresponse.h"
#include "tcpserverlink.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QImage>
#include <QJsonDocument>
#include <QTcpSocket>

#include <algorithm>

namespace
{

QByteArray header(const QHttpServerRequest &request, const QByteArray &name)
{
    for (const auto &[key, value] : request.headers()) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QByteArray methodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get:
        return "GET";
    case QHttpServerRequest::Method::Post:
        return "POST";
    case QHttpServerRequest::Method::Put:
        return "PUT";
    case QHttpServerRequest::Method::Delete:
        return "DELETE";
    case QHttpServerRequest::Method::Head:
        return "HEAD";
    case QHttpServerRequest::Method::Options:
        return "OPTIONS";
    case QHttpServerRequest::Method::Patch:
        return "PATCH";
    default:
        return "OTHER";
    }
}

// Equal texts take the same time to compare whatever their first difference.
bool sameSecret(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

} // namespace

const HttpFront::Route HttpFront::kRoutes[] = {
    {"/api/command", "POST", Access::Token, &HttpFront::command},
    {"/api/state", "GET", Access::Token, &HttpFront::state},
    {"/api/card.png", "GET", Access::Token, &HttpFront::cardPicture},
    {"/api/events", "GET", Access::Token, &HttpFront::eventStream},
    {"/healthz", "GET", Access::Token, &HttpFront::health},
    // The only files the front serves: the live page's, from the program's own resources.
    {"/", "GET", Access::Open, nullptr, ":/web/index.html", "text/html; charset=utf-8"},
    {"/index.html", "GET", Access::Open, nullptr, ":/web/index.html", "text/html; charset=utf-8"},
    {"/style.css", "GET", Access::Open, nullptr, ":/web/style.css", "text/css; charset=utf-8"},
    {"/app.js", "GET", Access::Open, nullptr, ":/web/app.js", "text/javascript; charset=utf-8"},
};

HttpFront::HttpFront(TfrmVorlak &window, ControlCommands &commands, ErrorReporter *errors,
                     QObject *parent)
    : QAbstractHttpServer(parent), m_window(window), m_commands(commands),
      m_events(window, errors, this)
{
}

HttpFront::~HttpFront() = default;

bool HttpFront::listen(const QHostAddress &address, quint16 port)
{
    auto *listener = new HttpListener(this);
    if (!listener->listen(address, port)) {
        m_listenError = listener->errorString();
        delete listener;
        return false;
    }
    m_listener = listener;
    bind(listener);
    return true;
}

quint16 HttpFront::port() const
{
    return m_listener ? m_listener->serverPort() : 0;
}

bool HttpFront::authorised(const Request &request) const
{
    if (m_token.isEmpty())
        return true;
    return sameSecret(request.authorization, "Bearer " + m_token);
}

bool HttpFront::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    if (m_listener)
        m_listener->requestHandled(socket);
    Request copy{methodName(request.method()), request.url().path(),
                 header(request, "authorization"), request.body(),
                 header(request, "connection").toLower() == "close"};
    if (!m_connections.contains(socket))
        connect(socket, &QObject::destroyed, this,
                [this, socket] { m_connections.remove(socket); });
    Connection &connection = m_connections[socket];
    if (connection.answering) {
        if (connection.waiting.size() >= kMaxWaitingRequests) {
            socket->abort();
            return true;
        }
        connection.waiting.push_back(std::move(copy));
        return true;
    }
    serve(copy, socket);
    return true;
}

void HttpFront::serve(const Request &request, QTcpSocket *socket)
{
    m_connections[socket].answering = true;
    if (route(request, socket))
        answered(socket);
}

void HttpFront::answered(QTcpSocket *socket)
{
    const auto connection = m_connections.find(socket);
    if (connection == m_connections.end())
        return;
    connection->answering = false;
    if (connection->waiting.empty())
        return;
    Request next = std::move(connection->waiting.front());
    connection->waiting.pop_front();
    // From the event loop: a long run of waiting requests does not nest.
    QMetaObject::invokeMethod(
        socket, [this, socket, next = std::move(next)] { serve(next, socket); },
        Qt::QueuedConnection);
}

bool HttpFront::route(const Request &request, QTcpSocket *socket)
{
    const bool close = request.close;
    const QString &path = request.path;
    const auto samePath = [&](const Route &route) { return path == QLatin1String(route.path); };
    const auto route = std::find_if(std::begin(kRoutes), std::end(kRoutes), samePath);
    // Unknown paths are not told apart from known ones before the token is shown.
    const bool needsToken = route == std::end(kRoutes) || route->access == Access::Token;
    if (needsToken && !authorised(request)) {
        HttpResponse::writeJson(
            socket, 401,
            HttpResponse::errorObject(
                QStringLiteral("unauthorized: this front needs \"Authorization: Bearer TOKEN\"")),
            {{"WWW-Authenticate", "Bearer"}}, close);
        return true;
    }
    if (route == std::end(kRoutes)) {
        HttpResponse::writeJson(socket, 404, HttpResponse::errorObject("no such path: " + path), {},
                                close);
        return true;
    }
    if (request.method != route->method) {
        HttpResponse::writeJson(
            socket, 405,
            HttpResponse::errorObject(
                QStringLiteral("%1 takes %2, not %3")
                    .arg(path, QLatin1String(route->method), QLatin1String(request.method))),
            {{"Allow", route->method}}, close);
        return true;
    }
    if (route->resource) {
        page(*route, request, socket);
        return true;
    }
    return (this->*route->handler)(request, socket);
}

void HttpFront::missingHandler(const QHttpServerRequest &, QTcpSocket *)
{
    // handleRequest answers every request itself, unknown paths with 404.
}

bool HttpFront::command(const Request &request, QTcpSocket *socket)
{
    const bool close = request.close;
    const QByteArray body = request.body.trimmed();
    QJsonObject parsed;
    QString problem;
    if (!ControlRequest::parse(body, &parsed, &problem)) {
        HttpResponse::writeJson(socket, 400, HttpResponse::errorObject(problem), {}, close);
        return true;
    }
    // Stands for this one request: a reply that comes later goes nowhere once the connection
    // (its parent) has gone.
    auto *requester = new QObject(socket);
    QPointer<QTcpSocket> connection(socket);
    const ControlCommands::Result reply = m_commands.runWithToken(
        parsed, requester, [this, requester, connection, close](const QJsonObject &later) {
            HttpResponse::writeJson(connection, 200, later, {}, close);
            requester->deleteLater();
            answered(connection);
        });
    if (!reply)
        return false;
    HttpResponse::writeJson(socket, 200, *reply, {}, close);
    delete requester;
    return true;
}

bool HttpFront::state(const Request &request, QTcpSocket *socket)
{
    // "state" always answers at once: no requester needs to stand by for a later reply.
    const ControlCommands::Result reply =
        m_commands.run({{QStringLiteral("cmd"), QStringLiteral("state")}}, this, {});
    HttpResponse::writeJson(socket, 200, reply.value_or(QJsonObject{}), {}, request.close);
    return true;
}

bool HttpFront::cardPicture(const Request &request, QTcpSocket *socket)
{
    const bool close = request.close;
    // The picture as it is now; only its encoding happens elsewhere.
    const bool started = m_pngEncoder.encode(
        m_window.cardPicture(), socket, [this, socket, close](const QByteArray &png) {
            if (png.isEmpty()) {
                HttpResponse::writeJson(socket, 500,
                                        HttpResponse::errorObject(QStringLiteral(
                                            "the card picture could not be encoded")),
                                        {}, close);
            } else {
                HttpResponse::write(socket, 200, QByteArrayLiteral("image/png"), png, {}, close);
            }
            answered(socket);
        });
    if (!started) {
        HttpResponse::writeJson(
            socket, 503,
            HttpResponse::errorObject(QStringLiteral("the card picture is being encoded for %1 "
                                                     "requests already; ask again")
                                          .arg(PngEncoder::kMaxInFlight)),
            {{"Retry-After", "1"}}, close);
    }
    return !started;
}

bool HttpFront::eventStream(const Request &request, QTcpSocket *socket)
{
    // The stream is the connection's last answer: it is never done.
    if (m_events.subscribe(socket))
        return false;
    HttpResponse::writeJson(
        socket, 503,
        HttpResponse::errorObject(
            QStringLiteral("too many event streams (at most %1)").arg(EventStream::kMaxClients)),
        {}, request.close);
    return true;
}

bool HttpFront::health(const Request &request, QTcpSocket *socket)
{
    const bool close = request.close;
    const TcpServerLink &host = m_window.ServerSocket();
    QJsonObject answer{{QStringLiteral("event_clients"), m_events.clientCount()},
                       {QStringLiteral("events_dropped"), m_events.droppedEvents()}};
    if (host.active()) {
        answer.insert(QStringLiteral("ok"), true);
        answer.insert(QStringLiteral("host_port"), host.listeningPort());
        HttpResponse::writeJson(socket, 200, answer, {}, close);
        return true;
    }
    answer.insert(QStringLiteral("ok"), false);
    answer.insert(QStringLiteral("error"),
                  host.openError().isEmpty()
                      ? QStringLiteral("the host port %1 is not open yet").arg(host.port())
                      : QStringLiteral("the host port %1 could not be opened: %2")
                            .arg(host.port())
                            .arg(host.openError()));
    HttpResponse::writeJson(socket, 503, answer, {}, close);
    return true;
}

void HttpFront::page(const Route &route, const Request &request, QTcpSocket *socket)
{
    const bool close = request.close;
    QFile resource(QString::fromLatin1(route.resource));
    if (!resource.open(QIODevice::ReadOnly)) {
        HttpResponse::writeJson(
            socket, 404,
            HttpResponse::errorObject(QStringLiteral("no such path: %1").arg(route.path)), {},
            close);
        return;
    }
    HttpResponse::write(
        socket, 200, route.contentType, resource.readAll(),
        {{"Content-Security-Policy", "default-src 'self'; img-src 'self' blob: data:; "
                                     "connect-src 'self'; frame-ancestors 'none'"},
         {"X-Content-Type-Options", "nosniff"}},
        close);
}
