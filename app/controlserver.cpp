#include "controlserver.h"

#include "cardpanel.h"
#include "frmvorlak.h"
#include "lcdscreen.h"
#include "machine.h"
#include "messagedecoder.h"
#include "monitorform.h"
#include "seriallink.h"
#include "statustable.h"
#include "tcpserverlink.h"
#include "trafficlogview.h"

#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPushButton>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <iterator>
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

QJsonObject ok(QJsonObject object = {})
{
    object.insert(QStringLiteral("ok"), true);
    return object;
}

QString toHex(const QString &text)
{
    QByteArray bytes;
    for (QChar c : text)
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
    return QString::fromLatin1(bytes.toHex(' '));
}

QCheckBox *faultBox(TfrmVorlak &window, const QString &name)
{
    if (name == QLatin1String("feeder_empty"))
        return window.cbFeederEmpty;
    if (name == QLatin1String("card_misfeed"))
        return window.cbCardMisfeed;
    if (name == QLatin1String("y_motor_error"))
        return window.cbYMotorError;
    if (name == QLatin1String("x_motor_error"))
        return window.cbXMotorError;
    return nullptr;
}

} // namespace

ControlServer::ControlServer(TfrmVorlak &window, QObject *parent)
    : QObject(parent), m_window(window)
{
    connect(&m_listener, &SocketListener::accepted, this, &ControlServer::acceptConnection);
    // Told once per run of failures; the listener pauses and tries again.
    connect(&m_listener, &SocketListener::acceptFailed, this, [](int error) {
        qWarning("control port: accept failed (%d), %s", error, std::strerror(error));
    });
    connect(&window.machine(), &Machine::longActionsEnded, this, &ControlServer::checkWaits);
}

ControlServer::~ControlServer()
{
    // The sockets would announce their end into a half-destroyed server.
    for (auto it = m_clients.begin(); it != m_clients.end(); ++it) {
        it.key()->disconnect(this);
        delete it->waitTimer;
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
        Client client = m_clients.take(socket);
        delete client.waitTimer;
        socket->deleteLater();
    });
}

void ControlServer::readClient(QTcpSocket *socket)
{
    auto it = m_clients.find(socket);
    if (it == m_clients.end())
        return;
    it->buffer.append(socket->readAll());
    qsizetype newline;
    while ((newline = it->buffer.indexOf('\n')) >= 0) {
        it->lines.push_back(it->buffer.left(newline));
        it->buffer.remove(0, newline + 1);
    }
    if (it->buffer.size() > kMaxLineLength) {
        reply(socket, error(QStringLiteral("request line too long")));
        socket->disconnectFromHost();
        return;
    }
    processLines(socket);
}

void ControlServer::processLines(QTcpSocket *socket)
{
    for (;;) {
        auto it = m_clients.find(socket);
        if (it == m_clients.end() || it->waitTimer || it->lines.empty())
            return;
        const QByteArray line = it->lines.front().trimmed();
        it->lines.pop_front();
        if (line.isEmpty())
            continue;
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
        if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
            reply(socket, error(QStringLiteral("malformed request: one JSON object per line")));
            continue;
        }
        const QJsonObject answer = handle(document.object(), socket);
        if (!answer.isEmpty())
            reply(socket, answer);
    }
}

void ControlServer::reply(QTcpSocket *socket, const QJsonObject &object)
{
    socket->write(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
    socket->flush();
}

bool ControlServer::machineIdle() const
{
    const EmulatorState &state = m_window.machine().state();
    return m_pendingPresses == 0 && !m_window.machine().longActionRunning() && !state.Busy &&
           !state.InReset;
}

void ControlServer::checkWaits()
{
    // Called at the end of every dispatch, so every poll: nothing to do unless someone waits.
    const bool anyoneWaits = std::any_of(m_clients.cbegin(), m_clients.cend(),
                                         [](const Client &client) { return client.waitTimer; });
    if (!anyoneWaits)
        return;
    // Runs when the outermost job or sequence has returned; the answer goes out once the
    // event loop is back at the top, so the state read is final.
    QTimer::singleShot(0, this, [this] {
        if (!machineIdle())
            return;
        const QList<QTcpSocket *> sockets = m_clients.keys();
        for (QTcpSocket *socket : sockets) {
            if (m_clients.value(socket).waitTimer)
                finishWait(socket, true);
        }
    });
}

void ControlServer::finishWait(QTcpSocket *socket, bool idle)
{
    auto it = m_clients.find(socket);
    if (it == m_clients.end() || !it->waitTimer)
        return;
    it->waitTimer->deleteLater();
    it->waitTimer = nullptr;
    reply(socket, idle ? ok({{QStringLiteral("idle"), true}})
                       : error(QStringLiteral("timeout: the machine is still busy")));
    processLines(socket);
}

QJsonObject ControlServer::faultsObject() const
{
    const FaultSwitches faults = m_window.faultSwitches();
    return {{QStringLiteral("feeder_empty"), faults.feederEmpty},
            {QStringLiteral("card_misfeed"), faults.cardMisfeed},
            {QStringLiteral("y_motor_error"), faults.yMotorError},
            {QStringLiteral("x_motor_error"), faults.xMotorError}};
}

QJsonObject ControlServer::formatObject() const
{
    const MessageDecoder &decoder = m_window.decoder();
    const FormatTable &table = decoder.FormatTable();
    QJsonArray fields;
    for (int i = 0; i < table.Count && i < int(std::size(table.Fields)); ++i) {
        const FieldDef &f = table.Fields[i];
        fields.append(QJsonObject{{QStringLiteral("font"), QString(f.Font)},
                                  {QStringLiteral("pitch"), f.Pitch},
                                  {QStringLiteral("y"), f.Y},
                                  {QStringLiteral("x"), f.X}});
    }
    return {{QStringLiteral("count"), table.Count},
            {QStringLiteral("card_width_tenth_mm"), decoder.CardWidth()},
            {QStringLiteral("card_height_tenth_mm"), decoder.CardHeight()},
            {QStringLiteral("fields"), fields}};
}

QJsonObject ControlServer::glyphsObject() const
{
    QJsonArray glyphs;
    for (const StruckGlyph &g : m_window.decoder().lastJobStrikes()) {
        glyphs.append(QJsonObject{{QStringLiteral("char"), QString(g.character)},
                                  {QStringLiteral("x"), g.x},
                                  {QStringLiteral("y"), g.y},
                                  {QStringLiteral("font_height"), g.fontHeight},
                                  {QStringLiteral("rotated"), g.rotated}});
    }
    return ok({{QStringLiteral("glyphs"), glyphs}});
}

QJsonObject ControlServer::stateObject() const
{
    Machine &machine = m_window.machine();
    const EmulatorState &s = machine.state();
    const QJsonObject flags{{QStringLiteral("paused"), s.Paused},
                            {QStringLiteral("clear_requested"), s.ClearRequested},
                            {QStringLiteral("busy"), s.Busy},
                            {QStringLiteral("abort_requested"), s.AbortRequested},
                            {QStringLiteral("powered_on"), s.PoweredOn},
                            {QStringLiteral("in_reset"), s.InReset},
                            {QStringLiteral("closing"), s.Closing}};
    const StatusRow row = currentStatus(s, m_window.faultSwitches());
    QJsonArray panels;
    for (int i = 0; i < 5; ++i)
        panels.append(m_window.statusPanelText(i));
    QJsonObject state{
        {QStringLiteral("flags"), flags},
        {QStringLiteral("status"), QJsonObject{{QStringLiteral("reply_hex"), toHex(row.reply)},
                                               {QStringLiteral("display"), row.displayText}}},
        {QStringLiteral("display"), m_window.LCDScreen->Lines().join(QLatin1Char('\n'))},
        {QStringLiteral("panels"), panels},
        {QStringLiteral("faults"), faultsObject()},
        {QStringLiteral("job_running"), s.Busy},
        {QStringLiteral("host_connections"), m_window.ServerSocket().connectionCount()},
        {QStringLiteral("reply_delay_ms"), machine.replyDelay()},
        {QStringLiteral("format"), formatObject()},
        {QStringLiteral("card"),
         QJsonObject{{QStringLiteral("width_px"), m_window.cardPanel->width()},
                     {QStringLiteral("height_px"), m_window.cardPanel->height()}}},
        {QStringLiteral("polls_to_ignore"), machine.pollsToIgnore()},
        {QStringLiteral("serial"),
         QJsonObject{{QStringLiteral("device"), m_window.serialLink().deviceName()},
                     {QStringLiteral("open"), m_window.serialLink().isOpen()},
                     {QStringLiteral("lost"), m_window.serialLink().isLost()}}},
    };
    return ok(state);
}

QJsonObject ControlServer::handle(const QJsonObject &request, QTcpSocket *client)
{
    const QString command = request.value(QStringLiteral("cmd")).toString();
    Machine &machine = m_window.machine();

    if (command == QLatin1String("press")) {
        const QString button = request.value(QStringLiteral("button")).toString();
        QPushButton *target = button == QLatin1String("reset")   ? m_window.btnReset
                              : button == QLatin1String("pause") ? m_window.btnPause
                              : button == QLatin1String("clear") ? m_window.btnClear
                                                                 : nullptr;
        if (!target)
            return error(QStringLiteral("press: button must be reset, pause or clear"));
        // Clicked from the event loop, as the operator would: a reset's two seconds must not
        // hold up this reply. Until the click has run, the machine does not count as idle.
        ++m_pendingPresses;
        QTimer::singleShot(0, target, [this, target] {
            --m_pendingPresses;
            target->click();
            checkWaits();
        });
        return ok();
    }
    if (command == QLatin1String("set_fault")) {
        QCheckBox *box = faultBox(m_window, request.value(QStringLiteral("fault")).toString());
        if (!box || !request.value(QStringLiteral("on")).isBool())
            return error(QStringLiteral("set_fault: needs fault (feeder_empty, card_misfeed, "
                                        "y_motor_error, x_motor_error) and on (true/false)"));
        box->setChecked(request.value(QStringLiteral("on")).toBool());
        return ok({{QStringLiteral("faults"), faultsObject()}});
    }
    if (command == QLatin1String("faults"))
        return ok({{QStringLiteral("faults"), faultsObject()}});
    if (command == QLatin1String("state"))
        return stateObject();
    if (command == QLatin1String("wait_idle")) {
        const int timeout = request.value(QStringLiteral("timeout_ms")).toInt(30000);
        if (machineIdle())
            return ok({{QStringLiteral("idle"), true}});
        auto &entry = m_clients[client];
        entry.waitTimer = new QTimer(this);
        entry.waitTimer->setSingleShot(true);
        connect(entry.waitTimer, &QTimer::timeout, this,
                [this, client] { finishWait(client, false); });
        entry.waitTimer->start(std::max(0, timeout));
        return {};
    }
    if (command == QLatin1String("reply_delay")) {
        const QJsonValue ms = request.value(QStringLiteral("ms"));
        if (!ms.isDouble() || ms.toInt(-1) < 0)
            return error(QStringLiteral("reply_delay: needs ms >= 0"));
        machine.setReplyDelay(ms.toInt());
        return ok();
    }
    if (command == QLatin1String("ignore_polls")) {
        const QJsonValue count = request.value(QStringLiteral("count"));
        if (!count.isDouble() || count.toInt(-1) < 0)
            return error(QStringLiteral("ignore_polls: needs count >= 0"));
        machine.ignoreNextPolls(count.toInt());
        return ok();
    }
    if (command == QLatin1String("disconnect_host")) {
        const int count = m_window.ServerSocket().connectionCount();
        m_window.ServerSocket().dropConnections();
        return ok({{QStringLiteral("closed"), count}});
    }
    if (command == QLatin1String("serial_port")) {
        // What the setup dialog's "OK" does with its serial port list, for rigs without a screen.
        const QString device = request.value(QStringLiteral("device")).toString();
        if (device.isEmpty())
            return error(QStringLiteral("serial_port: needs device (a path, or NONE)"));
        try {
            m_window.chooseSerialPort(device);
        } catch (const std::exception &e) {
            return error(QString::fromUtf8(e.what()));
        }
        return ok({{QStringLiteral("device"), device}});
    }
    if (command == QLatin1String("glyphs"))
        return glyphsObject();
    if (command == QLatin1String("save_card")) {
        const QString path = request.value(QStringLiteral("path")).toString();
        if (path.isEmpty())
            return error(QStringLiteral("save_card: needs path"));
        try {
            m_window.saveCardPicture(path);
        } catch (const std::exception &e) {
            return error(QString::fromUtf8(e.what()));
        }
        return ok({{QStringLiteral("path"), path},
                   {QStringLiteral("width_px"), m_window.cardPanel->width()},
                   {QStringLiteral("height_px"), m_window.cardPanel->height()}});
    }
    if (command == QLatin1String("monitor")) {
        // The monitor records traffic only while it is shown.
        const QJsonValue show = request.value(QStringLiteral("show"));
        if (!show.isBool())
            return error(QStringLiteral("monitor: needs show (true/false)"));
        if (show.toBool())
            m_window.MonitorForm().show();
        else
            m_window.MonitorForm().hide();
        return ok({{QStringLiteral("shown"), show.toBool()}});
    }
    if (command == QLatin1String("logs") || command == QLatin1String("clear_logs")) {
        TMonitorForm &monitor = m_window.MonitorForm();
        QJsonObject logs{{QStringLiteral("rx"), monitor.RxLog->text()},
                         {QStringLiteral("tx"), monitor.TxLog->text()},
                         {QStringLiteral("shown"), monitor.isVisible()}};
        if (command == QLatin1String("clear_logs") ||
            request.value(QStringLiteral("clear")).toBool()) {
            monitor.TxLog->clear();
            monitor.RxLog->clear();
        }
        return ok(logs);
    }
    if (command == QLatin1String("quit")) {
        QTimer::singleShot(0, this, &ControlServer::quitRequested);
        return ok();
    }
    if (command.isEmpty())
        return error(QStringLiteral("missing \"cmd\""));
    return error(QStringLiteral("unknown command: %1").arg(command));
}
