#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>

// A listening IPv4 TCP socket that accepts on its own descriptor.
//
// QTcpServer keeps the first error its socket engine reported, so after the routine "would
// block" every later real failure (no descriptor left: EMFILE, ENFILE, ENOBUFS) reads as
// temporary and the listening socket is polled in a tight loop. Here a real failure pauses
// accepting, is announced once per run of failures, and accepting is tried again on a timer;
// the waiting host is accepted once a descriptor is free.
class SocketListener : public QObject
{
    Q_OBJECT
public:
    explicit SocketListener(QObject *parent = nullptr);
    ~SocketListener() override;

    // Binds to the address (host order, INADDR_ANY or INADDR_LOOPBACK) and listens. On failure
    // returns false; error() and failedCall() ("socket", "bind", "listen") tell why.
    bool listen(quint32 address, quint16 port, int backlog);
    void close();
    bool isListening() const { return m_descriptor >= 0; }
    quint16 port() const;
    int error() const { return m_error; }
    const char *failedCall() const { return m_failedCall; }

    // Accepts every connection waiting now, as the listening socket's notifier does; nothing
    // while accepting pauses after a failure.
    void acceptWaiting();

    static constexpr int kRetryMs = 100;

signals:
    // A connection was accepted: its descriptor (non-blocking, close-on-exec) is the
    // receiver's.
    void accepted(int descriptor);
    // Accepting failed for a reason other than an aborted connection; announced once until a
    // connection is accepted again. The error is the system's error number.
    void acceptFailed(int error);

private:
    bool fail(const char *call);

    int m_descriptor = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_retry;
    bool m_failing = false;
    int m_error = 0;
    const char *m_failedCall = "";
};
