#include "controlserver.h"

#include "errorreporter.h"
#include "vorlakapplication.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QTcpSocket>

#include <cstring>
#include <netinet/in.h>
#include <unistd.h>

namespace
{

// Longest request line accepted; a client that sends more without a newline is cut off.
constexpr qsizetype kMaxLineLength = 64 * 1024;

QJsonObject error(const QString &message)
{
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), message}};
}

ErrorReporter *applicationErrors()
{
    auto *app = qobject_cast<VorlakApplication *>(QCoreApplication::instance());
    return app ? &app->errorReporter() : nullptr;
}

} // namespace

ControlServer::ControlServer(TfrmVorlak &window, QObject *parent)
    : ControlServer(window, applicationErrors(), parent)
{
}

ControlServer::ControlServer(TfrmVorlak &window, ErrorReporter &errors, QObject *parent)
    : ControlServer(window, &errors, parent)
{
}

ControlServer::ControlServer(TfrmVorlak &window, ErrorReporter *errors, QObject *parent)
    : QObject(parent), m_commands(window, errors)
{
    connect(&m_commands, &ControlCommands::quitRequested, this, &ControlServer::quitRequested);
    connect(&m_listener, &SocketListener::accepted, this, &ControlServer::acceptConnection);
    // Told once per run of failures; the listener pauses and tries again.
    connect(&m_listener, &SocketListener::acceptFailed, this, [](int error) {
        qWarning("control port: accept failed (%d), %s", error, std::strerror(error));
    });
}

ControlServer::~ControlServer()
{
    // The sockets would announce their end into a half-destroyed server.
    for (auto it = m_clients.begin(); it != m_clients.end(); ++it) {
        it.key()->disconnect(this);
        m_commands.cancelWait(it.key());
    }
    m_clients.clear();
}

bool ControlServer::listen(quint16 port)
{
    // Loopback only: the control port can press buttons and end the program.
    if (m_listener.listen(INADDR_LOOPBACK, port, 50))
        return true;
    m_listenError =
        QStringLiteral("%1: %2").arg(QLatin1String(m_listener.failedCall()),
                                     QString::fromLocal8Bit(std::strerror(m_listener.error())));
    return false;
}

void ControlServer::acceptConnection(int descriptor)
{
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(descriptor);
        delete socket;
        return;
    }
    m_clients.insert(socket, Client{});
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readClient(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        m_clients.remove(socket);
        m_commands.cancelWait(socket);
        socket->deleteLater();
    });
}

void ControlServer::readClient(QTcpSocket *socket)
{
    auto it = m_clients.find(socket);
    if (it == m_clients.end())
        return;
    if (it->closing) {
        socket->readAll(); // dropped: the connection is on its way out
        return;
    }
    it->buffer.append(socket->readAll());
    qsizetype newline;
    while ((newline = it->buffer.indexOf('\n')) >= 0) {
        it->lines.push_back(it->buffer.left(newline));
        it->queuedBytes += newline;
        it->buffer.remove(0, newline + 1);
    }
    if (it->buffer.size() > kMaxLineLength) {
        dropClient(socket, QStringLiteral("request line too long"));
        return;
    }
    processLines(socket);
    it = m_clients.find(socket);
    if (it == m_clients.end())
        return;
    if (it->lines.size() > kMaxQueuedRequests || it->queuedBytes > kMaxQueuedBytes) {
        dropClient(socket,
                   QStringLiteral("too many requests waiting behind wait_idle (at most %1, %2 "
                                  "bytes); the connection is closed")
                       .arg(kMaxQueuedRequests)
                       .arg(kMaxQueuedBytes));
    }
}

void ControlServer::dropClient(QTcpSocket *socket, const QString &why)
{
    auto it = m_clients.find(socket);
    if (it == m_clients.end())
        return;
    it->closing = true;
    it->lines.clear();
    it->queuedBytes = 0;
    it->buffer.clear();
    it->waiting = false;
    m_commands.cancelWait(socket);
    // Said only if there is still room for it; a client that reads nothing just loses it.
    if (socket->bytesToWrite() < kMaxUnsentBytes)
        reply(socket, error(why));
    if (m_clients.contains(socket))
        socket->disconnectFromHost();
}

void ControlServer::processLines(QTcpSocket *socket)
{
    for (;;) {
        auto it = m_clients.find(socket);
        if (it == m_clients.end() || it->closing || it->waiting || it->lines.empty())
            return;
        it->queuedBytes -= it->lines.front().size();
        const QByteArray line = it->lines.front().trimmed();
        it->lines.pop_front();
        if (line.isEmpty())
            continue;
        const QJsonObject now =
            answer(socket, m_commands.runLine(line, socket, laterReplyTo(socket)));
        if (!now.isEmpty())
            reply(socket, now);
    }
}

void ControlServer::reply(QTcpSocket *socket, const QJsonObject &object)
{
    socket->write(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
    socket->flush();
    // A client that sends requests and never reads its replies would otherwise grow the
    // write buffer without end.
    if (socket->bytesToWrite() > kMaxUnsentBytes) {
        if (m_clients.contains(socket))
            m_clients[socket].closing = true;
        socket->abort();
    }
}

QJsonObject ControlServer::handle(const QJsonObject &request, QTcpSocket *client)
{
    return answer(client, m_commands.run(request, client, laterReplyTo(client)));
}

QJsonObject ControlServer::answer(QTcpSocket *socket, const ControlCommands::Result &result)
{
    if (result)
        return *result;
    // Requests behind the wait_idle wait for its reply.
    m_clients[socket].waiting = true;
    return {};
}

ControlCommands::Reply ControlServer::laterReplyTo(QTcpSocket *socket)
{
    return [this, socket](const QJsonObject &object) { finishWait(socket, object); };
}

void ControlServer::finishWait(QTcpSocket *socket, const QJsonObject &object)
{
    auto it = m_clients.find(socket);
    if (it == m_clients.end() || !it->waiting)
        return;
    it->waiting = false;
    reply(socket, object);
    processLines(socket);
}
