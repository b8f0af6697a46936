#include "controlcommands.h"

#include "controlrequest.h"
#include "diagnosticslog.h"
#include "errorreporter.h"
#include "hostjson.h"
#include "jobarchive.h"
#include "machine.h"
#include "messagedecoder.h"
#include "monitorform.h"
#include "seriallink.h"
#include "statustable.h"
#include "tcpserverlink.h"
#include "triggers.h"

#include <QFile>
#include <QImageWriter>
#include <QJsonArray>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <iterator>

namespace
{

QJsonObject error(const QString &message)
{
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), message}};
}

QJsonObject ok(QJsonObject object = {})
{
    object.insert(QStringLiteral("ok"), true);
    return object;
}

std::optional<TfrmVorlak::OperatorButton> buttonNamed(const QString &name)
{
    using Button = TfrmVorlak::OperatorButton;
    if (name == QLatin1String("reset"))
        return Button::Reset;
    if (name == QLatin1String("pause"))
        return Button::Pause;
    if (name == QLatin1String("clear"))
        return Button::Clear;
    return std::nullopt;
}

// The fault check boxes by their names on the wire, in the order "faults" lists them.
struct FaultName {
    const char *name;
    TfrmVorlak::FaultSwitch fault;
};
constexpr FaultName kFaultNames[] = {
    {"feeder_empty", TfrmVorlak::FaultSwitch::FeederEmpty},
    {"card_misfeed", TfrmVorlak::FaultSwitch::CardMisfeed},
    {"y_motor_error", TfrmVorlak::FaultSwitch::YMotorError},
    {"x_motor_error", TfrmVorlak::FaultSwitch::XMotorError},
};

// The number under `key` when it is a whole number from 0 to INT_MAX.
std::optional<int> wholeNumberAtLeastZero(const QJsonObject &request, const QString &key)
{
    const QJsonValue value = request.value(key);
    if (!value.isDouble() || value.toInt(-1) < 0)
        return std::nullopt;
    return value.toInt();
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

// The rig's commands, in the order the README's table lists them.
const ControlCommands::Entry ControlCommands::kTable[] = {
    {"press", &ControlCommands::press},
    {"set_fault", &ControlCommands::setFault},
    {"faults", &ControlCommands::faults},
    {"state", &ControlCommands::state},
    {"wait_idle", &ControlCommands::waitIdle},
    {"serial_port", &ControlCommands::serialPort},
    {"glyphs", &ControlCommands::glyphs},
    {"save_card", &ControlCommands::saveCard},
    {"errors", &ControlCommands::errors},
    {"dismiss_error", &ControlCommands::dismissError},
    {"monitor", &ControlCommands::monitor},
    {"logs", &ControlCommands::logs},
    {"clear_logs", &ControlCommands::clearLogs},
    {"reply_delay", &ControlCommands::replyDelay},
    {"ignore_polls", &ControlCommands::ignorePolls},
    {"disconnect_host", &ControlCommands::disconnectHost},
    {"on", &ControlCommands::on},
    {"triggers", &ControlCommands::triggers},
    {"clear_triggers", &ControlCommands::clearTriggers},
    {"quit", &ControlCommands::quit},
    // Host-data diagnosis.
    {"diagnostics", &ControlCommands::diagnostics},
    // Job archive.
    {"jobs", &ControlCommands::jobs},
};

ControlCommands::ControlCommands(TfrmVorlak &window, ErrorReporter *errors, QObject *parent)
    : QObject(parent), m_window(window), m_errors(errors), m_exportFolder(window.DataFolder()),
      m_pressTimer(new QTimer(this))
{
    m_pressTimer->setSingleShot(true);
    m_pressTimer->setInterval(0);
    connect(m_pressTimer, &QTimer::timeout, this, &ControlCommands::runNextPress);
    connect(&window.machine(), &Machine::longActionsEnded, this, &ControlCommands::checkWaits);
    // A trigger's request has no requester of its own: a later reply goes to the trigger.
    m_triggers = new Triggers(
        window.machine(), names(),
        [this](const QJsonObject &request, Triggers::Reply later) {
            return run(request, nullptr, std::move(later));
        },
        this);
}

ControlCommands::~ControlCommands()
{
    // Owed replies die with the table; their contexts must not call into it any more.
    for (const Wait &wait : m_waits)
        disconnect(wait.contextGone);
}

QStringList ControlCommands::names()
{
    QStringList list;
    for (const Entry &entry : kTable)
        list.append(QString::fromLatin1(entry.name));
    return list;
}

ControlCommands::Result ControlCommands::runLine(const QByteArray &line, const QObject *context,
                                                 Reply later)
{
    QJsonObject request;
    QString problem;
    if (!ControlRequest::parse(line, &request, &problem))
        return error(problem);
    return runWithToken(request, context, std::move(later));
}

ControlCommands::Result ControlCommands::runWithToken(const QJsonObject &request,
                                                      const QObject *context, Reply later)
{
    if (!tokenAccepted(request)) {
        return error(QStringLiteral("unauthorized: this control port needs the right \"token\" "
                                    "in every request"));
    }
    return run(request, context, std::move(later));
}

ControlCommands::Result ControlCommands::run(const QJsonObject &request, const QObject *context,
                                             Reply later)
{
    // A host that had connected before this request is one of the machine's connections now,
    // even if the event loop serves this request before the host port's listening socket (Qt's
    // own event dispatcher serves sockets that are ready together in no fixed order).
    m_window.ServerSocket().acceptWaiting();
    const QString command = request.value(QStringLiteral("cmd")).toString();
    const auto entry = std::find_if(std::begin(kTable), std::end(kTable), [&](const Entry &e) {
        return command == QLatin1String(e.name);
    });
    if (entry != std::end(kTable))
        return (this->*entry->command)(Call{request, context, later});
    if (command.isEmpty())
        return error(QStringLiteral("missing \"cmd\""));
    return error(QStringLiteral("unknown command: %1").arg(command));
}

bool ControlCommands::tokenAccepted(const QJsonObject &request) const
{
    return m_token.isEmpty() ||
           sameToken(request.value(QStringLiteral("token")).toString(), m_token);
}

ControlCommands::Result ControlCommands::press(const Call &call)
{
    const auto button = buttonNamed(call.request.value(QStringLiteral("button")).toString());
    if (!button)
        return error(QStringLiteral("press: button must be reset, pause or clear"));
    if (m_pressQueue.size() >= kMaxQueuedPresses)
        return error(
            QStringLiteral("press: %1 presses are already waiting").arg(m_pressQueue.size()));
    // Clicked from the event loop, as the operator would: a reset's two seconds must not hold
    // up this reply. Until the click has run, the machine does not count as idle.
    m_pressQueue.push_back(*button);
    if (!m_pressTimer->isActive())
        m_pressTimer->start();
    return ok();
}

void ControlCommands::runNextPress()
{
    // One click per event round: the host's input is read and answered between two clicks,
    // also while earlier clicks' reset or clear sequences wait inside each other.
    if (m_pressQueue.empty() || m_pressesRunning >= kMaxNestedPresses)
        return;
    const TfrmVorlak::OperatorButton button = m_pressQueue.front();
    m_pressQueue.pop_front();
    if (!m_pressQueue.empty())
        m_pressTimer->start();
    {
        ++m_pressesRunning;
        const auto done = qScopeGuard([this] { --m_pressesRunning; });
        m_window.clickButton(button);
    }
    if (!m_pressQueue.empty() && !m_pressTimer->isActive())
        m_pressTimer->start();
    checkWaits();
}

ControlCommands::Result ControlCommands::setFault(const Call &call)
{
    const QString name = call.request.value(QStringLiteral("fault")).toString();
    const auto known =
        std::find_if(std::begin(kFaultNames), std::end(kFaultNames),
                     [&](const FaultName &f) { return name == QLatin1String(f.name); });
    if (known == std::end(kFaultNames) || !call.request.value(QStringLiteral("on")).isBool())
        return error(QStringLiteral("set_fault: needs fault (feeder_empty, card_misfeed, "
                                    "y_motor_error, x_motor_error) and on (true/false)"));
    m_window.setFaultSwitch(known->fault, call.request.value(QStringLiteral("on")).toBool());
    return ok({{QStringLiteral("faults"), faultsObject()}});
}

ControlCommands::Result ControlCommands::faults(const Call &)
{
    return ok({{QStringLiteral("faults"), faultsObject()}});
}

QJsonObject ControlCommands::faultsObject() const
{
    const FaultSwitches faults = m_window.faultSwitches();
    return {{QStringLiteral("feeder_empty"), faults.feederEmpty},
            {QStringLiteral("card_misfeed"), faults.cardMisfeed},
            {QStringLiteral("y_motor_error"), faults.yMotorError},
            {QStringLiteral("x_motor_error"), faults.xMotorError}};
}

QJsonObject ControlCommands::formatObject() const
{
    const MessageDecoder &decoder = m_window.decoder();
    return HostJson::format(decoder.FormatTable(), decoder.CardWidth(), decoder.CardHeight());
}

ControlCommands::Result ControlCommands::state(const Call &)
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
    const StatusRow row = currentStatus(s, machine.faultSwitches());
    QJsonArray panels;
    for (int i = 0; i < StatusPanelCount; ++i)
        panels.append(m_window.statusPanelText(i));
    const QSize card = m_window.cardSize();
    const QJsonObject answer{
        {QStringLiteral("flags"), flags},
        {QStringLiteral("status"), HostJson::statusRow(row)},
        {QStringLiteral("display"), m_window.displayLines().join(QLatin1Char('\n'))},
        {QStringLiteral("panels"), panels},
        {QStringLiteral("faults"), faultsObject()},
        {QStringLiteral("job_running"), s.Busy},
        {QStringLiteral("host_connections"), m_window.ServerSocket().connectionCount()},
        {QStringLiteral("reply_delay_ms"), machine.replyDelay()},
        {QStringLiteral("format"), formatObject()},
        {QStringLiteral("card"), QJsonObject{{QStringLiteral("width_px"), card.width()},
                                             {QStringLiteral("height_px"), card.height()}}},
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
    return ok(answer);
}

bool ControlCommands::machineIdle() const
{
    const EmulatorState &state = m_window.machine().state();
    return m_pressQueue.empty() && m_pressesRunning == 0 &&
           !m_window.machine().longActionRunning() && !state.Busy && !state.InReset;
}

ControlCommands::Result ControlCommands::waitIdle(const Call &call)
{
    const int timeout = call.request.value(QStringLiteral("timeout_ms")).toInt(30000);
    if (machineIdle())
        return ok({{QStringLiteral("idle"), true}});
    const quint64 id = m_nextWaitId++;
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, id] {
        finishWait(id, error(QStringLiteral("timeout: the machine is still busy")));
    });
    QMetaObject::Connection contextGone;
    if (call.context) {
        contextGone = connect(call.context, &QObject::destroyed, this,
                              [this, context = call.context] { cancelWait(context); });
    }
    m_waits.push_back({id, call.context, timer, std::move(call.later), contextGone});
    timer->start(std::max(0, timeout));
    return std::nullopt;
}

void ControlCommands::checkWaits()
{
    // Called at the end of every dispatch, so every poll: nothing to do unless someone waits.
    if (m_waits.empty())
        return;
    // Runs when the outermost job or sequence has returned; the answer goes out once the
    // event loop is back at the top, so the state read is final.
    QTimer::singleShot(0, this, [this] {
        if (!machineIdle())
            return;
        // Only the waits pending now: an answer may let its connection start another.
        std::vector<quint64> pending;
        for (const Wait &wait : m_waits)
            pending.push_back(wait.id);
        for (quint64 id : pending)
            finishWait(id, ok({{QStringLiteral("idle"), true}}));
    });
}

void ControlCommands::finishWait(quint64 id, const QJsonObject &reply)
{
    const auto it = std::find_if(m_waits.begin(), m_waits.end(),
                                 [id](const Wait &wait) { return wait.id == id; });
    if (it == m_waits.end())
        return;
    // Taken out before the reply goes: the reply may run the connection's next requests.
    Reply later = std::move(it->later);
    disconnect(it->contextGone);
    it->timer->deleteLater();
    m_waits.erase(it);
    later(reply);
}

void ControlCommands::cancelWait(const QObject *context)
{
    const auto it = std::find_if(m_waits.begin(), m_waits.end(),
                                 [context](const Wait &wait) { return wait.context == context; });
    if (it == m_waits.end())
        return;
    disconnect(it->contextGone);
    it->timer->deleteLater();
    m_waits.erase(it);
}

ControlCommands::Result ControlCommands::serialPort(const Call &call)
{
    // What the setup dialog's "OK" does with its serial port list, for rigs without a screen.
    const QString device = call.request.value(QStringLiteral("device")).toString();
    if (device.isEmpty())
        return error(QStringLiteral("serial_port: needs device (a path, or NONE)"));
    try {
        m_window.chooseSerialPort(device);
    } catch (const std::exception &e) {
        return error(QString::fromUtf8(e.what()));
    }
    return ok({{QStringLiteral("device"), device}});
}

ControlCommands::Result ControlCommands::glyphs(const Call &)
{
    return ok({{QStringLiteral("glyphs"), HostJson::glyphs(m_window.decoder().lastJobStrikes())}});
}

ControlCommands::Result ControlCommands::saveCard(const Call &call)
{
    const QString path = call.request.value(QStringLiteral("path")).toString();
    if (path.isEmpty())
        return error(QStringLiteral("save_card: needs path"));
    QString written;
    try {
        const std::unique_ptr<QFile> file = m_exportFolder.openForWriting(path, &written);
        QImageWriter writer(file.get(), "png");
        if (!writer.write(m_window.cardPicture()))
            return error(QStringLiteral("%1: %2").arg(path, writer.errorString()));
        if (!file->flush())
            return error(QStringLiteral("%1: %2").arg(path, file->errorString()));
    } catch (const std::exception &e) {
        return error(QString::fromUtf8(e.what()));
    }
    const QSize card = m_window.cardSize();
    return ok({{QStringLiteral("path"), written},
               {QStringLiteral("width_px"), card.width()},
               {QStringLiteral("height_px"), card.height()}});
}

ControlCommands::Result ControlCommands::errors(const Call &call)
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
        if (call.request.value(QStringLiteral("clear")).toBool())
            m_errors->clear();
    }
    // count includes messages too old to be kept in the list.
    return ok({{QStringLiteral("errors"), list}, {QStringLiteral("count"), count}});
}

ControlCommands::Result ControlCommands::dismissError(const Call &)
{
    const QString text = m_errors ? m_errors->openBoxText() : QString();
    const bool dismissed = m_errors && m_errors->dismissBox();
    return ok({{QStringLiteral("dismissed"), dismissed},
               {QStringLiteral("text"), dismissed ? QJsonValue(text) : QJsonValue()}});
}

ControlCommands::Result ControlCommands::monitor(const Call &call)
{
    // The monitor records traffic only while it is shown.
    const QJsonValue show = call.request.value(QStringLiteral("show"));
    if (!show.isBool())
        return error(QStringLiteral("monitor: needs show (true/false)"));
    if (show.toBool())
        m_window.MonitorForm().show();
    else
        m_window.MonitorForm().hide();
    return ok({{QStringLiteral("shown"), show.toBool()}});
}

ControlCommands::Result ControlCommands::logs(const Call &call)
{
    return logsObject(call.request.value(QStringLiteral("clear")).toBool());
}

ControlCommands::Result ControlCommands::clearLogs(const Call &)
{
    return logsObject(true);
}

QJsonObject ControlCommands::logsObject(bool clear)
{
    TMonitorForm &monitor = m_window.MonitorForm();
    QJsonObject logs{{QStringLiteral("rx"), monitor.receivedText()},
                     {QStringLiteral("tx"), monitor.sentText()},
                     {QStringLiteral("shown"), monitor.isVisible()}};
    if (clear)
        monitor.clearTraffic();
    return ok(logs);
}

ControlCommands::Result ControlCommands::replyDelay(const Call &call)
{
    const std::optional<int> ms = wholeNumberAtLeastZero(call.request, QStringLiteral("ms"));
    if (!ms)
        return error(QStringLiteral("reply_delay: needs ms >= 0"));
    m_window.machine().setReplyDelay(*ms);
    return ok();
}

ControlCommands::Result ControlCommands::ignorePolls(const Call &call)
{
    const std::optional<int> count = wholeNumberAtLeastZero(call.request, QStringLiteral("count"));
    if (!count)
        return error(QStringLiteral("ignore_polls: needs count >= 0"));
    m_window.machine().ignoreNextPolls(*count);
    return ok();
}

ControlCommands::Result ControlCommands::disconnectHost(const Call &)
{
    const int count = m_window.ServerSocket().connectionCount();
    m_window.ServerSocket().dropConnections();
    return ok({{QStringLiteral("closed"), count}});
}

ControlCommands::Result ControlCommands::quit(const Call &)
{
    QTimer::singleShot(0, this, &ControlCommands::quitRequested);
    return ok();
}

ControlCommands::Result ControlCommands::on(const Call &call)
{
    return m_triggers->arm(call.request);
}

ControlCommands::Result ControlCommands::triggers(const Call &)
{
    return m_triggers->list();
}

ControlCommands::Result ControlCommands::clearTriggers(const Call &)
{
    return m_triggers->clear();
}

// ---- Host-data diagnosis ----

ControlCommands::Result ControlCommands::diagnostics(const Call &call)
{
    DiagnosticsLog &log = m_window.diagnostics();
    QJsonArray list;
    for (const Diagnostic &diagnostic : log.entries())
        list.append(HostJson::diagnostic(diagnostic));
    const qint64 count = log.count();
    if (call.request.value(QStringLiteral("clear")).toBool())
        log.clear();
    // count includes diagnostics too old to be kept in the list.
    return ok({{QStringLiteral("diagnostics"), list}, {QStringLiteral("count"), count}});
}

// ---- Job archive ----

ControlCommands::Result ControlCommands::jobs(const Call &)
{
    if (!m_jobArchive)
        return error(QStringLiteral("jobs: no job archive (start the program with --job-dir)"));
    QJsonArray list;
    for (const JobArchive::Entry &entry : m_jobArchive->entries()) {
        auto pathOrNull = [](const QString &path) {
            return path.isEmpty() ? QJsonValue() : QJsonValue(path);
        };
        list.append(QJsonObject{{QStringLiteral("job"), entry.job},
                                {QStringLiteral("tag"), entry.tag},
                                {QStringLiteral("outcome"), entry.outcome},
                                {QStringLiteral("png"), pathOrNull(entry.png)},
                                {QStringLiteral("json"), pathOrNull(entry.json)},
                                {QStringLiteral("problem"), pathOrNull(entry.problem)}});
    }
    return ok({{QStringLiteral("jobs"), list}, {QStringLiteral("folder"), m_jobArchive->folder()}});
}
