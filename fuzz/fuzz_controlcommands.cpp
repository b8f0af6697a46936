// The control port's command table fed as a connection feeds it: the input is split into lines
// at '\n', each line trimmed and, unless blank, read and run as the control port reads and runs
// it (strict JSON, then the table); a line behind a wait_idle runs once that wait has answered.
// The table drives a real main window (not shown: no TCP port opens) whose machine runs at a
// huge speed, so a press's two-second sequence passes within a few event rounds.
//
// Kept harmless: "quit" only announces itself (nothing listens), save_card writes into an
// export folder made afresh for each input inside a temporary folder, and a serial device other
// than NONE is looked for inside the export folder, so no real device or file elsewhere is
// opened.
//
// Checked besides the sanitizers: every request line gets exactly one reply, in order; every
// reply is one line of JSON with "ok", and a failure carries a non-empty "error"; a wait_idle
// answers once the machine has come to rest; the machine comes to rest once the input is used
// up; nothing was written beside the export folder (its sibling, the data folder, stays empty).

#include "appoptions.h"
#include "controlcommands.h"
#include "controlrequest.h"
#include "errorreporter.h"
#include "frmvorlak.h"
#include "fuzzsupport.h"
#include "machine.h"
#include "monitorform.h"
#include "vorlakapplication.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>
#include <optional>

namespace
{

// Event rounds a wait_idle may take to answer, or the machine to come to rest; each press
// takes a few at the fuzzing speed.
constexpr int kMaxRounds = 200000;

void check(const QJsonObject &reply)
{
    const QJsonValue ok = reply.value(QStringLiteral("ok"));
    if (!ok.isBool())
        std::abort();
    if (!ok.toBool() && reply.value(QStringLiteral("error")).toString().isEmpty())
        std::abort();
    if (QJsonDocument(reply).toJson(QJsonDocument::Compact).contains('\n'))
        std::abort();
}

// A serial device other than NONE, moved into the export folder.
std::optional<QJsonObject> keptInside(const QByteArray &line, const QString &folder)
{
    QJsonObject request;
    QString problem;
    if (!ControlRequest::parse(line, &request, &problem) ||
        request.value(QStringLiteral("cmd")) != QLatin1String("serial_port"))
        return std::nullopt;
    const QString device = request.value(QStringLiteral("device")).toString();
    if (!device.isEmpty() && device != QLatin1String("NONE")) {
        QString name = device;
        name.replace(QLatin1Char('/'), QLatin1Char('_'));
        request.insert(QStringLiteral("device"), folder + QLatin1Char('/') + name);
    }
    return request;
}

// The input as one connection's request lines, run in the table as the control port runs them.
void runSession(ControlCommands &commands, Machine &machine, const QByteArray &input,
                const QString &exportFolder)
{
    // The one connection's requests; replies count what has answered.
    int requests = 0;
    int replies = 0;
    bool waiting = false;
    QObject connection;
    auto later = [&](const QJsonObject &reply) {
        if (!waiting)
            std::abort(); // a reply nobody waits for, or a second one
        waiting = false;
        check(reply);
        ++replies;
    };

    const QList<QByteArray> lines = input.split('\n');
    for (const QByteArray &raw : lines) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty())
            continue;
        ++requests;
        const std::optional<QJsonObject> request = keptInside(line, exportFolder);
        const ControlCommands::Result now = request ? commands.run(*request, &connection, later)
                                                    : commands.runLine(line, &connection, later);
        if (now) {
            check(*now);
            ++replies;
            continue;
        }
        waiting = true;
        // The reply comes through `later`, from the events these rounds serve.
        const auto answered = [&waiting] { return !waiting; };
        for (int round = 0; !answered(); ++round) {
            if (round == kMaxRounds)
                std::abort(); // the machine never came to rest
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        }
    }
    if (replies != requests)
        std::abort();

    // Presses still queued run to their end.
    const auto atRest = [&] {
        return commands.run(QJsonObject{{QStringLiteral("cmd"), QStringLiteral("wait_idle")},
                                        {QStringLiteral("timeout_ms"), 0}},
                            nullptr, [](const QJsonObject &) {});
    };
    for (int round = 0; !atRest(); ++round) {
        if (round == kMaxRounds)
            std::abort();
        commands.cancelWait(nullptr);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    if (machine.longActionRunning() || machine.state().Busy || machine.state().InReset)
        std::abort();
}

// One window for the whole run (building one costs more than running most inputs), brought back
// before every input to how a new window starts in all that the table changes, so an input
// runs alone as it ran within the run. (The display keeps its last text; no check reads it.)
struct Fixture {
    Fixture()
    {
        AppOptions options;
        options.dataFolder = dataFolder;
        options.speed = 1e9;
        options.sound = &sound;
        window = std::make_unique<TfrmVorlak>(options);
    }
    void restart()
    {
        Machine &machine = window->machine();
        machine.state() = EmulatorState{};
        machine.setReplyDelay(0);
        machine.ignoreNextPolls(0);
        using Fault = TfrmVorlak::FaultSwitch;
        for (Fault fault :
             {Fault::FeederEmpty, Fault::CardMisfeed, Fault::YMotorError, Fault::XMotorError})
            window->setFaultSwitch(fault, false);
        window->MonitorForm().hide();
        window->MonitorForm().clearTraffic();
        window->chooseSerialPort(QStringLiteral("NONE"));
        sound.played.clear();
    }

    VorlakApplication &app = Fuzz::application(); // before any widget
    QTemporaryDir root;
    const QString dataFolder = root.filePath(QStringLiteral("data"));
    const QString exportFolder = root.filePath(QStringLiteral("exports"));
    RecordingSound sound;
    std::unique_ptr<TfrmVorlak> window;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Kept to the end of the process: Qt allows no widget after its application has gone.
    static Fixture &fixture = *new Fixture;
    fixture.restart();
    QDir().mkpath(fixture.exportFolder);
    const auto removeExports = qScopeGuard([] { QDir(fixture.exportFolder).removeRecursively(); });
    {
        ErrorReporter errors(true);
        ControlCommands commands(*fixture.window, &errors);
        commands.setExportFolder(fixture.exportFolder);
        runSession(commands, fixture.window->machine(), Fuzz::bytes(data, size),
                   fixture.exportFolder);
    }
    const auto everything = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
    if (QDir(fixture.root.path()).entryList(everything) != QStringList{"data", "exports"} ||
        !QDir(fixture.dataFolder).isEmpty(everything))
        std::abort();
    return 0;
}
