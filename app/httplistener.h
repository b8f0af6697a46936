#pragma once

#include <QHash>
#include <QTcpServer>

class QTcpSocket;

// The HTTP front's listening socket. It hands every connection to the HTTP server module, but
// looks at each request's bytes first: the module would keep a whole request in memory before
// anyone sees it, so a request that says or turns out to be larger than kMaxBodyBytes is
// answered 413 here and its connection closed, without the module or the machine seeing it.
// The rest of such a request is read and dropped until the client has had the answer (closing
// with unread input would reset the connection and lose the 413 on its way).
class HttpListener : public QTcpServer
{
    Q_OBJECT
public:
    static constexpr qint64 kMaxBodyBytes = 1024 * 1024;
    // Room for the request line and headers on top of the body.
    static constexpr qint64 kMaxHeadBytes = 64 * 1024;
    // A refused request's client gets this long to take its 413 before the connection goes.
    static constexpr int kDrainMs = 5000;

    explicit HttpListener(QObject *parent = nullptr);

    // The request counted so far on `socket` has been handled: counting starts afresh.
    void requestHandled(QTcpSocket *socket);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct Request {
        QByteArray head; // until its blank line has come
        bool headComplete = false;
        qint64 bytes = 0;
    };

    void inspect(QTcpSocket *socket);
    void refuse(QTcpSocket *socket, const QString &why);
    // The Content-Length a complete head names, or -1.
    static qint64 contentLength(const QByteArray &head);

    QHash<QTcpSocket *, Request> m_requests;
};
