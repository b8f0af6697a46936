#include "httplistener.h"

#include "httpresponse.h"

#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

#include <sys/socket.h>

HttpListener::HttpListener(QObject *parent) : QTcpServer(parent) {}

void HttpListener::incomingConnection(qintptr descriptor)
{
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    // Connected before the HTTP server connects its own reader: this one sees new bytes first.
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { inspect(socket); });
    connect(socket, &QObject::destroyed, this, [this, socket] { m_requests.remove(socket); });
    addPendingConnection(socket);
}

void HttpListener::requestHandled(QTcpSocket *socket)
{
    m_requests.remove(socket);
}

void HttpListener::inspect(QTcpSocket *socket)
{
    // Whatever the server module read before has been taken out of the socket's buffer:
    // what is available now came since.
    Request &request = m_requests[socket];
    const qint64 fresh = socket->bytesAvailable();
    request.bytes += fresh;
    if (!request.headComplete) {
        request.head += socket->peek(std::min<qint64>(fresh, kMaxHeadBytes));
        const qsizetype end = request.head.indexOf("\r\n\r\n");
        if (end >= 0) {
            request.headComplete = true;
            request.head.truncate(end + 2);
            if (contentLength(request.head) > kMaxBodyBytes) {
                refuse(socket, QStringLiteral("the request body is larger than 1 MiB"));
                return;
            }
        } else if (request.head.size() > kMaxHeadBytes) {
            refuse(socket, QStringLiteral("the request head is larger than 64 KiB"));
            return;
        }
    }
    if (request.bytes > kMaxBodyBytes + kMaxHeadBytes)
        refuse(socket, QStringLiteral("the request body is larger than 1 MiB"));
}

qint64 HttpListener::contentLength(const QByteArray &head)
{
    for (const QByteArray &line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0 || line.left(colon).trimmed().toLower() != "content-length")
            continue;
        bool ok = false;
        const qint64 length = line.mid(colon + 1).trimmed().toLongLong(&ok);
        return ok ? length : kMaxBodyBytes + 1; // a length that is no number is refused too
    }
    return -1;
}

void HttpListener::refuse(QTcpSocket *socket, const QString &why)
{
    m_requests.remove(socket);
    // Nobody else reads this connection any more; what still comes is dropped.
    disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
    HttpResponse::writeJson(socket, 413, HttpResponse::errorObject(why), {{"Connection", "close"}});
    socket->readAll();
    connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
    auto finishSending = [socket] {
        if (socket->bytesToWrite() == 0)
            ::shutdown(static_cast<int>(socket->socketDescriptor()), SHUT_WR);
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, finishSending);
    socket->flush();
    finishSending();
    QTimer::singleShot(kDrainMs, socket, [socket] { socket->abort(); });
}
