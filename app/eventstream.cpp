#include "eventstream.h"

#include "diagnosticslog.h"
#include "errorreporter.h"
#include "frmvorlak.h"
#include "hostjson.h"
#include "machine.h"
#include "messagedecoder.h"
#include "monitorform.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

EventStream::EventStream(TfrmVorlak &window, ErrorReporter *errors, QObject *parent)
    : QObject(parent), m_keepAlive(new QTimer(this))
{
    m_keepAlive->setInterval(kKeepAliveMs);
    connect(m_keepAlive, &QTimer::timeout, this, &EventStream::keepAlive);
    connectMachine(window, errors);
}

EventStream::~EventStream() = default;

void EventStream::connectMachine(TfrmVorlak &window, ErrorReporter *errors)
{
    Machine &machine = window.machine();
    // Each handler first asks whether anyone streams: without a client an event costs a call.
    // The machine shows its text again at every poll; the stream tells only changes.
    connect(&machine, &Machine::displayTextChanged, this, [this, &window] {
        if (m_clients.empty())
            return;
        const QString display = window.displayLines().join(QLatin1Char('\n'));
        if (display == m_lastDisplay)
            return;
        m_lastDisplay = display;
        publish("display", {{QStringLiteral("display"), display}});
    });
    connect(&machine, &Machine::statusReplied, this, [this](const StatusRow &row) {
        if (!m_clients.empty())
            publish("status", HostJson::statusRow(row));
    });
    connect(&machine, &Machine::strikeDrawn, this, [this, &window] {
        if (m_clients.empty())
            return;
        const StrikeRecord &strikes = window.decoder().lastJobStrikes();
        if (strikes.empty())
            return;
        publish("strike", {{QStringLiteral("count"), static_cast<qint64>(strikes.size())},
                           {QStringLiteral("glyph"), HostJson::glyph(strikes.back())}});
    });
    // Reset and Clear erase the card; a new message wipes its glyphs, a format resizes it.
    const auto cardErased = [this] {
        if (!m_clients.empty())
            publish("card_erased", {});
    };
    connect(&machine, &Machine::cardErased, this, cardErased);
    connect(&machine, &Machine::cardRepainted, this, cardErased);
    connect(&machine, &Machine::jobStarted, this, [this, &machine] {
        if (!m_clients.empty())
            publish("job_start", {{QStringLiteral("job"), machine.runningJob()},
                                  {QStringLiteral("tag"), machine.jobTag()}});
    });
    connect(&machine, &Machine::jobFinished, this, [this](const FinishedJob &job) {
        if (!m_clients.empty())
            publish("job_end", HostJson::jobSummary(job));
    });
    connect(&window.diagnostics(), &DiagnosticsLog::added, this,
            [this](const Diagnostic &diagnostic) {
                if (!m_clients.empty())
                    publish("diagnostic", HostJson::diagnostic(diagnostic));
            });
    connect(&machine, &Machine::traffic, this,
            [this](Machine::Direction direction, const QString &text) {
                // The serial link's look during each strike hands over empty chunks too.
                if (m_clients.empty() || text.isEmpty())
                    return;
                publish("traffic",
                        {{QStringLiteral("dir"), direction == Machine::Direction::Received
                                                     ? QStringLiteral("received")
                                                     : QStringLiteral("sent")},
                         {QStringLiteral("text"), TMonitorForm::RenderTraffic(text)}});
            });
    if (errors) {
        connect(errors, &ErrorReporter::reported, this, [this, errors](const QString &text) {
            if (m_clients.empty())
                return;
            const QDateTime time = errors->entries().empty() ? QDateTime::currentDateTime()
                                                             : errors->entries().back().time;
            publish("error", {{QStringLiteral("time"), time.toString(Qt::ISODateWithMs)},
                              {QStringLiteral("text"), text}});
        });
    }
}

bool EventStream::subscribe(QTcpSocket *socket)
{
    forgetGoneClients();
    if (clientCount() >= kMaxClients)
        return false;
    // The stream is this connection's last response: nothing it sends is read any more.
    disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
    connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
    socket->write("HTTP/1.1 200 OK\r\n"
                  "Content-Type: text/event-stream\r\n"
                  "Cache-Control: no-store\r\n"
                  "Connection: close\r\n"
                  "X-Accel-Buffering: no\r\n"
                  "\r\n"
                  ": vorlak events\n\n");
    m_clients.push_back({socket, 0});
    if (!m_keepAlive->isActive())
        m_keepAlive->start();
    return true;
}

void EventStream::publish(const char *name, const QJsonObject &data)
{
    const QByteArray event = QByteArrayLiteral("event: ") + name + QByteArrayLiteral("\ndata: ") +
                             QJsonDocument(data).toJson(QJsonDocument::Compact) + "\n\n";
    bool someoneGone = false;
    for (Client &client : m_clients) {
        QTcpSocket *socket = client.socket;
        if (!socket || socket->state() != QAbstractSocket::ConnectedState) {
            someoneGone = true;
            continue;
        }
        if (socket->bytesToWrite() > kMaxUnsentBytes) {
            ++client.dropped;
            ++m_droppedTotal;
            continue;
        }
        if (client.dropped > 0) {
            socket->write("event: dropped\ndata: {\"count\":" + QByteArray::number(client.dropped) +
                          "}\n\n");
            client.dropped = 0;
        }
        socket->write(event);
    }
    if (someoneGone)
        forgetGoneClients();
}

void EventStream::keepAlive()
{
    forgetGoneClients();
    if (m_clients.empty()) {
        m_keepAlive->stop();
        return;
    }
    for (Client &client : m_clients) {
        if (client.socket->bytesToWrite() <= kMaxUnsentBytes)
            client.socket->write(":\n\n");
    }
}

void EventStream::forgetGoneClients()
{
    m_clients.erase(std::remove_if(m_clients.begin(), m_clients.end(),
                                   [](const Client &client) {
                                       return !client.socket || client.socket->state() !=
                                                                    QAbstractSocket::ConnectedState;
                                   }),
                    m_clients.end());
}
