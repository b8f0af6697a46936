#pragma once
// A blocking HTTP/1.1 client on a plain socket, for tests of the program's HTTP front: one
// request per connection ("Connection: close"), the exact status, headers and body back.
#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QTcpSocket>

struct HttpReply {
    int status = 0; // 0: no reply came
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArray header(const QByteArray &name) const
    {
        for (const auto &[key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        }
        return {};
    }
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

// Splits a whole response (read until the server closed) into its parts.
inline HttpReply parseHttpReply(const QByteArray &raw)
{
    HttpReply reply;
    const qsizetype headEnd = raw.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return reply;
    const QList<QByteArray> lines = raw.left(headEnd).split('\n');
    const QList<QByteArray> statusLine = lines.first().trimmed().split(' ');
    if (statusLine.size() >= 2 && statusLine[0].startsWith("HTTP/1."))
        reply.status = statusLine[1].toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            reply.headers.append(
                {lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }
    reply.body = raw.mid(headEnd + 4);
    return reply;
}

// Successive responses on one connection, each as long as its Content-Length says; a
// response that does not parse ends the list.
inline QList<HttpReply> parseHttpReplies(QByteArray raw)
{
    QList<HttpReply> replies;
    while (!raw.isEmpty()) {
        HttpReply reply = parseHttpReply(raw);
        if (reply.status == 0)
            break;
        const qsizetype bodyStart = raw.indexOf("\r\n\r\n") + 4;
        const qsizetype length = reply.header("Content-Length").toLongLong();
        reply.body = raw.mid(bodyStart, length);
        raw.remove(0, bodyStart + length);
        replies.append(reply);
    }
    return replies;
}

// Everything the server sends until it closes the connection (or the time is up).
inline QByteArray readUntilClosed(QTcpSocket &socket, int timeoutMs)
{
    QByteArray raw;
    QDeadlineTimer deadline(timeoutMs);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        socket.waitForReadyRead(5);
        raw += socket.readAll();
    }
    return raw + socket.readAll();
}

// `extraHeaders` are whole lines without their line end ("Authorization: Bearer x").
inline HttpReply httpRequest(quint16 port, const QByteArray &method, const QByteArray &path,
                             const QByteArray &body = {},
                             const QList<QByteArray> &extraHeaders = {}, int timeoutMs = 10000)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return {};
    QByteArray request = method + ' ' + path +
                         " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                         "Connection: close\r\n";
    for (const QByteArray &line : extraHeaders)
        request += line + "\r\n";
    if (!body.isEmpty() || method == "POST")
        request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    socket.write(request + "\r\n" + body);
    return parseHttpReply(readUntilClosed(socket, timeoutMs));
}
