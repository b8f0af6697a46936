#include "httpresponse.h"

#include <QJsonDocument>
#include <QTcpSocket>

namespace HttpResponse
{

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return QByteArrayLiteral("OK");
    case 400:
        return QByteArrayLiteral("Bad Request");
    case 401:
        return QByteArrayLiteral("Unauthorized");
    case 404:
        return QByteArrayLiteral("Not Found");
    case 405:
        return QByteArrayLiteral("Method Not Allowed");
    case 413:
        return QByteArrayLiteral("Payload Too Large");
    case 500:
        return QByteArrayLiteral("Internal Server Error");
    case 503:
        return QByteArrayLiteral("Service Unavailable");
    default:
        return QByteArrayLiteral("Status");
    }
}

void write(QTcpSocket *socket, int status, const QByteArray &contentType, const QByteArray &body,
           const Headers &headers, bool close)
{
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) +
                      "\r\nContent-Type: " + contentType +
                      "\r\nContent-Length: " + QByteArray::number(body.size()) +
                      "\r\nCache-Control: no-store\r\n";
    for (const auto &[name, value] : headers)
        head += name + ": " + value + "\r\n";
    if (close)
        head += "Connection: close\r\n";
    socket->write(head + "\r\n" + body);
    if (close)
        socket->disconnectFromHost(); // after what is written has gone out
}

void writeJson(QTcpSocket *socket, int status, const QJsonObject &object, const Headers &headers,
               bool close)
{
    write(socket, status, QByteArrayLiteral("application/json"),
          QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n', headers, close);
}

QJsonObject errorObject(const QString &message)
{
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), message}};
}

} // namespace HttpResponse
