#include "controlserver.h"

#include "cardpanel.h"
#include "controlrequest.h"
#include "errorreporter.h"
#include "frmvorlak.h"
#include "lcdscreen.h"
#include "machine.h"
#include "messagedecoder.h"
#include "monitorform.h"
#include "seriallink.h"
#include "statustable.h"
#include "tcpserverlink.h"
#include "trafficlogview.h"
#include "vorlakapplication.h"

#include <QCheckBox>
#include <QFile>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPushButton>
#include <QScopeGuard>
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

ErrorReporter *applicationErrors()
{
    auto *app = qobject_cast<VorlakApplication *>(QCoreApplication::instance());
    return app ? &app->errorReporter() : nullptr;
}

bool sameToken(const QString &given, const QString &wanted)
{
    // Compared in full whatever the first difference, so the time taken tells nothing.
    const QByteArray a = given.toUtf8();
    const QByteArray b = wanted.toUtf8();
    unsigned char difference = a.size() == b.size() ? 0 : 1;
    for (qsizetype i = 0; i < b.size(); ++i)
        difference |= static_cast<unsigned char>(b[i] ^ (i < a.size() ? a[i] : ~b[i]));
    return difference == 0;
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
    : QObject(parent), m_window(window), m_errors(errors), m_exportFolder(window.DataFolder()),
      m_pressTimer(new QTimer(this))
{
    m_pressTimer->setSingleShot(true);
    m_pressTimer->setInterval(0);
    connect(m_pressTimer, &QTimer::timeout, this, &ControlServer::runNextPress);
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
        if (client.waitTimer)
            --m_waitingClients;
        delete client.waitTimer;
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
    if (it->waitTimer)
        --m_waitingClients;
    delete it->waitTimer;
    it->waitTimer = nullptr;
    // Said only if there is still room for it; a client that reads nothing just loses it.
    if (socket->bytesToWrite() < kMaxUnsentBytes)
        reply(socket, error(why));
    if (m_clients.contains(socket))
        socket->disconnectFromHost();
}

bool ControlServer::tokenAccepted(const QJsonObject &request) const
{
    return m_token.isEmpty() ||
           sameToken(request.value(QStringLiteral("token")).toString(), m_token);
}

void ControlServer::processLines(QTcpSocket *socket)
{
    for (;;) {
        auto it = m_clients.find(socket);
        if (it == m_clients.end() || it->closing || it->waitTimer || it->lines.empty())
            return;
        it->queuedBytes -= it->lines.front().size();
        const QByteArray line = it->lines.front().trimmed();
        it->lines.pop_front();
        if (line.isEmpty())
            continue;
        QJsonObject request;
        QString problem;
        if (!ControlRequest::parse(line, &request, &problem)) {
            reply(socket, error(problem));
            continue;
        }
        if (!tokenAccepted(request)) {
            reply(socket, error(QStringLiteral("unauthorized: this control port needs the "
                                               "right \"token\" in every request")));
            continue;
        }
        const QJsonObject answer = handle(request, socket);
        if (!answer.isEmpty())
            reply(socket, answer);
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

bool ControlServer::machineIdle() const
{
    const EmulatorState &state = m_window.machine().state();
    return m_pressQueue.empty() && m_pressesRunning == 0 &&
           !m_window.machine().longActionRunning() && !state.Busy && !state.InReset;
}

void ControlServer::checkWaits()
{
    // Called at the end of every dispatch, so every poll: nothing to do unless someone waits.
    // (Counted, not looked for: walking the client table costs more than the rest of a poll's
    // dispatch.)
    if (m_waitingClients == 0)
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

void ControlServer::runNextPress()
{
    // One click per event round: the host's input is read and answered between two clicks,
    // also while earlier clicks' reset or clear sequences wait inside each other.
    if (m_pressQueue.empty() || m_pressesRunning >= kMaxNestedPresses)
        return;
    QPushButton *target = m_pressQueue.front();
    m_pressQueue.pop_front();
    if (!m_pressQueue.empty())
        m_pressTimer->start();
    {
        ++m_pressesRunning;
        const auto done = qScopeGuard([this] { --m_pressesRunning; });
        target->click();
    }
    if (!m_pressQueue.empty() && !m_pressTimer->isActive())
        m_pressTimer->start();
    checkWaits();
}

void ControlServer::finishWait(QTcpSocket *socket, bool idle)
{
    auto it = m_clients.find(socket);
    if (it == m_clients.end() || !it->waitTimer)
        return;
    it->waitTimer->deleteLater();
    it->waitTimer = nullptr;
    --m_waitingClients;
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

QJsonObject ControlServer::saveCard(const QJsonObject &request)
{
    const QString path = request.value(QStringLiteral("path")).toString();
    if (path.isEmpty())
        return error(QStringLiteral("save_card: needs path"));
    QString written;
    try {
        const std::unique_ptr<QFile> file = m_exportFolder.openForWriting(path, &written);
        QImageWriter writer(file.get(), "png");
        if (!writer.write(m_window.cardPanel->cardPicture()))
            return error(QStringLiteral("%1: %2").arg(path, writer.errorString()));
        if (!file->flush())
            return error(QStringLiteral("%1: %2").arg(path, file->errorString()));
    } catch (const std::exception &e) {
        return error(QString::fromUtf8(e.what()));
    }
    return ok({{QStringLiteral("path"), written},
               {QStringLiteral("width_px"), m_window.cardPanel->width()},
               {QStringLiteral("height_px"), m_window.cardPanel->height()}});
}

QJsonObject ControlServer::errorsObject(const QJsonObject &request)
{
    QJsonArray list;
    qint64 count = 0;
    if (m_errors) {
        for (const ErrorReporter::Entry &entry : m_errors->entries()) {
            list.append(
                QJsonObject{{QStringLiteral("time"), entry.time.toString(Qt::ISODateWithMs)},
                            {QStringLiteral("text"), entry.text}});
        }
        count = m_errors->count();
        if (request.value(QStringLiteral("clear")).toBool())
            m_errors->clear();
    }
    // count includes messages too old to be kept in the list.
    return ok({{QStringLiteral("errors"), list}, {QStringLiteral("count"), count}});
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
        {QStringLiteral("errors"), m_errors ? m_errors->count() : 0},
        {QStringLiteral("error_box"), m_errors && !m_errors->openBoxText().isEmpty()
                                          ? QJsonValue(m_errors->openBoxText())
                                          : QJsonValue()},
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
    // A host that had connected before this request is one of the machine's connections now,
    // even if the event loop serves this request before the machine port's listening socket
    // (Qt's own event dispatcher serves sockets ready together in no fixed order).
    m_window.ServerSocket().acceptWaiting();

    if (command == QLatin1String("press")) {
        const QString button = request.value(QStringLiteral("button")).toString();
        QPushButton *target = button == QLatin1String("reset")   ? m_window.btnReset
                              : button == QLatin1String("pause") ? m_window.btnPause
                              : button == QLatin1String("clear") ? m_window.btnClear
                                                                 : nullptr;
        if (!target)
            return error(QStringLiteral("press: button must be reset, pause or clear"));
        if (m_pressQueue.size() >= kMaxQueuedPresses)
            return error(
                QStringLiteral("press: %1 presses are already waiting").arg(m_pressQueue.size()));
        // Clicked from the event loop, as the operator would: a reset's two seconds must not
        // hold up this reply. Until the click has run, the machine does not count as idle.
        m_pressQueue.push_back(target);
        if (!m_pressTimer->isActive())
            m_pressTimer->start();
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
        ++m_waitingClients;
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
        return saveCard(request);
    }
    if (command == QLatin1String("errors"))
        return errorsObject(request);
    if (command == QLatin1String("dismiss_error")) {
        const QString text = m_errors ? m_errors->openBoxText() : QString();
        const bool dismissed = m_errors && m_errors->dismissBox();
        return ok({{QStringLiteral("dismissed"), dismissed},
                   {QStringLiteral("text"), dismissed ? QJsonValue(text) : QJsonValue()}});
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
