#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>

class QTcpSocket;

// One HTTP/1.1 response written straight onto a connection: the status line, the headers given,
// Content-Length, and the body. Written by hand rather than through the server module's
// responder, so that a reply that comes later (wait_idle's) or an event stream needs nothing
// but the socket.
namespace HttpResponse
{
using Headers = QList<QPair<QByteArray, QByteArray>>;

// "OK", "Not Found", ... for the statuses this front answers with.
QByteArray reasonPhrase(int status);

// With `close`, the connection ends once the response is sent.
void write(QTcpSocket *socket, int status, const QByteArray &contentType, const QByteArray &body,
           const Headers &headers = {}, bool close = false);
void writeJson(QTcpSocket *socket, int status, const QJsonObject &object,
               const Headers &headers = {}, bool close = false);

// {"ok":false,"error":message}, as the control port reports a failure.
QJsonObject errorObject(const QString &message);
} // namespace HttpResponse
