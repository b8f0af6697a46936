#include "appoptions.h"
#include "controlserver.h"
#include "diagnosticslog.h"
#include "eventdispatcherchoice.h"
#include "frmsetup.h"
#include "frmvorlak.h"
#include "httpfront.h"
#include "jobarchive.h"
#include "scenariofile.h"
#include "stderrlines.h"
#include "tcpserverlink.h"
#include "terminationsignals.h"
#include "trafficjournal.h"
#include "virtualserialline.h"
#include "vorlakapplication.h"
#include "windowicon.h"

#include <QCommandLineParser>
#include <QDir>
#include <QStatusBar>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace
{

bool hasArgument(int argc, char **argv, const char *wanted)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], wanted) == 0)
            return true;
    }
    return false;
}

// Without a display the simulator still serves the host: it starts on the offscreen platform.
// --headless asks for that on purpose. The platform must be chosen before the application
// object exists, so the option is looked for by hand here.
void chooseOffscreenWithoutDisplay(bool headless)
{
    if (headless) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return;
    }
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        std::fputs("vorlak: no display found (DISPLAY and WAYLAND_DISPLAY are unset); "
                   "running on the offscreen platform, the host links are served as usual\n",
                   stderr);
    }
}

} // namespace

int main(int argc, char **argv)
{
    chooseOffscreenWithoutDisplay(hasArgument(argc, argv, "--headless"));
    const bool offscreen = offscreenPlatformChosen(argc, argv);
    const bool dispatcherChosenHere = preferQtEventDispatcher(offscreen);
    VorlakApplication app(argc, argv);
    if (dispatcherChosenHere)
        qunsetenv("QT_NO_GLIB");
    QCoreApplication::setApplicationName(QStringLiteral("vorlak"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORLAK_VERSION_STRING));
    QApplication::setWindowIcon(vorlakWindowIcon()); // for windows without a parent

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulator of the M830 card embosser: answers a host over TCP "
                       "(port 10001 by default) or a serial line as the machine would."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dataDir(
        QStringLiteral("data-dir"),
        QStringLiteral("Folder that holds the settings file Vorlak.ini, instead of "
                       "$XDG_CONFIG_HOME/Vorlak."),
        QStringLiteral("DIR"));
    const QCommandLineOption speed(
        QStringLiteral("speed"),
        QStringLiteral("Divides every machine wait (strikes, reset, clear, end of job) by F; "
                       "1 is the machine's real pace."),
        QStringLiteral("F"), QStringLiteral("1"));
    const QCommandLineOption headless(
        QStringLiteral("headless"),
        QStringLiteral("Runs without any window (offscreen platform); everything else works as "
                       "usual. Chosen automatically when no display exists."));
    const QCommandLineOption controlPort(
        QStringLiteral("control-port"),
        QStringLiteral("Opens the test rig's control port on 127.0.0.1:N (JSON lines; 0 picks a "
                       "free port, printed on stderr). Off by default."),
        QStringLiteral("N"));
    const QCommandLineOption serialDevice(
        QStringLiteral("serial-device"),
        QStringLiteral("Offers PATH in the setup dialog's serial port list besides the system's "
                       "serial ports, for a pseudo-terminal or a socat link (may be repeated)."),
        QStringLiteral("PATH"));
    const QCommandLineOption exportDir(
        QStringLiteral("export-dir"),
        QStringLiteral("The only folder the control port writes into (card pictures); default: "
                       "the data folder."),
        QStringLiteral("DIR"));
    const QCommandLineOption controlToken(
        QStringLiteral("control-token"),
        QStringLiteral("Every control port request must carry \"token\": TOKEN (default: the "
                       "environment variable VORLAK_CONTROL_TOKEN; none when both are unset)."),
        QStringLiteral("TOKEN"));
    // Host-data diagnosis, traffic journal, job archive.
    const QCommandLineOption diagnostics(
        QStringLiteral("diagnostics"),
        QStringLiteral("Prints every diagnostic of the host's data (a record that ends the "
                       "format, a line beyond the format's fields, ...) as one line on stderr."));
    parser.addOption(diagnostics);
    const QCommandLineOption journal(
        QStringLiteral("journal"),
        QStringLiteral("Appends one JSON line per received chunk, reply, diagnostic and "
                       "operator action to FILE, whether the monitor shows or not."),
        QStringLiteral("FILE"));
    const QCommandLineOption journalMaxMb(
        QStringLiteral("journal-max-mb"),
        QStringLiteral("Past this size the journal is renamed to FILE.1 and begun anew."),
        QStringLiteral("MB"), QStringLiteral("64"));
    parser.addOption(journal);
    parser.addOption(journalMaxMb);
    const QCommandLineOption jobDir(
        QStringLiteral("job-dir"),
        QStringLiteral("When a job ends, writes its card picture and a description (JSON) into "
                       "DIR as <job number>-<tag>.png and .json."),
        QStringLiteral("DIR"));
    parser.addOption(jobDir);

    parser.addOption(dataDir);
    parser.addOption(speed);
    parser.addOption(headless);
    parser.addOption(controlPort);
    parser.addOption(serialDevice);
    parser.addOption(exportDir);
    parser.addOption(controlToken);
    const QCommandLineOption scenario(
        QStringLiteral("scenario"),
        QStringLiteral("Arms the triggers in FILE at start: a JSON array of control requests "
                       "{\"cmd\":\"on\",...}. Works with or without the control port."),
        QStringLiteral("FILE"));
    const QCommandLineOption serialPty(
        QStringLiteral("serial-pty"),
        QStringLiteral("Creates a virtual serial line (raw, 9600 8N1): PATH becomes a link to the "
                       "host's end, the simulator opens the other end at start. The link is "
                       "removed at exit; an existing PATH is never replaced."),
        QStringLiteral("PATH"));
    parser.addOption(scenario);
    parser.addOption(serialPty);
    const QCommandLineOption httpPort(
        QStringLiteral("http-port"),
        QStringLiteral("Opens the HTTP front on port N (the control requests, state, card "
                       "picture, events, live page; 0 picks a free port, printed on stderr). Off "
                       "by default."),
        QStringLiteral("N"));
    const QCommandLineOption httpBind(
        QStringLiteral("http-bind"),
        QStringLiteral("The address the HTTP front listens on (default 127.0.0.1); any but a "
                       "loopback address needs --http-token."),
        QStringLiteral("ADDR"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption httpToken(
        QStringLiteral("http-token"),
        QStringLiteral("Every HTTP request must say \"Authorization: Bearer TOKEN\" (default: the "
                       "environment variable VORLAK_HTTP_TOKEN; none when both are unset)."),
        QStringLiteral("TOKEN"));
    parser.addOption(httpPort);
    parser.addOption(httpBind);
    parser.addOption(httpToken);
    parser.process(app);

    AppOptions options;
    options.dataFolder = parser.value(dataDir);
    options.extraSerialPorts = parser.values(serialDevice);
    bool speedOk = false;
    options.speed = parser.value(speed).toDouble(&speedOk);
    if (!speedOk || !(options.speed > 0)) {
        std::fprintf(stderr, "vorlak: --speed needs a number greater than 0\n");
        return 2;
    }

    // Made before the window, so that its setup dialog lists the simulator's end.
    std::unique_ptr<VirtualSerialLine> serialLine;
    if (parser.isSet(serialPty)) {
        QString problem;
        serialLine = VirtualSerialLine::create(parser.value(serialPty), &problem);
        if (!serialLine) {
            std::fprintf(stderr, "vorlak: --serial-pty: %s\n", qPrintable(problem));
            return 2;
        }
        options.extraSerialPorts.append(serialLine->simulatorEnd());
    }

    app.setQuitOnLastWindowClosed(false);
    TfrmVorlak window(options);
    // A close that could not write the settings ends with 1; with a window, once the operator
    // has seen the error box.
    QObject::connect(
        &window, &TfrmVorlak::closed, &app,
        [&app, &window] {
            const int status = window.settingsWriteFailed() ? 1 : 0;
            app.errorReporter().whenNoBoxOpen([status] { QCoreApplication::exit(status); });
        },
        Qt::QueuedConnection);
    // A service manager's stop and Ctrl-C close the window as the operator would.
    TerminationSignals terminationSignals;
    if (!terminationSignals.isActive())
        std::fprintf(stderr, "vorlak: SIGTERM and SIGINT end the program without its close: %s\n",
                     qPrintable(terminationSignals.errorString()));
    QObject::connect(&terminationSignals, &TerminationSignals::closeRequested, &window,
                     [&window] { window.close(); });
    // Off screen nobody sees the status bar, whose panel 1 changes at every poll: its texts
    // stay exact (the control port reads them), its pictures are not drawn.
    if (offscreen)
        window.statusBar()->setUpdatesEnabled(false);
    // The journal records from before the host port opens.
    TrafficJournal trafficJournal(window);
    if (parser.isSet(journal)) {
        bool sizeOk = false;
        const double maxMb = parser.value(journalMaxMb).toDouble(&sizeOk);
        if (!sizeOk || !(maxMb > 0)) {
            std::fprintf(stderr, "vorlak: --journal-max-mb needs a number greater than 0\n");
            return 2;
        }
        QString problem;
        if (!trafficJournal.open(parser.value(journal), static_cast<qint64>(maxMb * 1024 * 1024),
                                 &problem)) {
            std::fprintf(stderr, "vorlak: cannot open the journal %s: %s\n",
                         qPrintable(parser.value(journal)), qPrintable(problem));
            return 2;
        }
    }
    std::unique_ptr<JobArchive> jobArchive;
    if (parser.isSet(jobDir)) {
        const QString folder = parser.value(jobDir);
        if (!QDir().mkpath(folder)) {
            std::fprintf(stderr, "vorlak: cannot create the job folder %s\n", qPrintable(folder));
            return 2;
        }
        jobArchive = std::make_unique<JobArchive>(window, folder);
    }
    window.show();
    // The machine port opens when the window first shows; a rig that picked a free port for
    // it learns here that the port is its own (an open failure is reported as an error).
    if (window.ServerSocket().active())
        std::fprintf(stderr, "vorlak: host port listening on 0.0.0.0:%u\n",
                     window.ServerSocket().listeningPort());
    if (serialLine) {
        // Opened as if chosen in the setup dialog: the dialog shows it chosen, its OK keeps
        // it, panel 0 shows it.
        window.frmSetup().FillPortList();
        TfrmSetup::SelectComboText(serialLine->simulatorEnd(), window.frmSetup().cbCOM);
        try {
            window.chooseSerialPort(serialLine->simulatorEnd());
        } catch (const std::exception &e) {
            std::fprintf(stderr, "vorlak: --serial-pty: cannot open %s: %s\n",
                         qPrintable(serialLine->simulatorEnd()), e.what());
            return 2;
        }
        std::fprintf(stderr, "vorlak: serial line: the host's end is %s (%s)\n",
                     qPrintable(serialLine->linkPath()), qPrintable(serialLine->hostEnd()));
    }

    // Host-data diagnosis on stderr: never waited for, as the error lines.
    if (parser.isSet(diagnostics)) {
        QObject::connect(&window.diagnostics(), &DiagnosticsLog::added, &window,
                         [lines = std::make_shared<StderrLines>()](const Diagnostic &diagnostic) {
                             lines->write("vorlak: " + DiagnosticsLog::line(diagnostic).toUtf8());
                         });
    }

    const QString exportFolder =
        parser.isSet(exportDir) ? parser.value(exportDir) : window.DataFolder();
    std::unique_ptr<ControlServer> control;
    if (parser.isSet(controlPort)) {
        bool portOk = false;
        const uint port = parser.value(controlPort).toUInt(&portOk);
        if (!portOk || port > 65535) {
            std::fprintf(stderr, "vorlak: --control-port needs a port number from 0 to 65535\n");
            return 2;
        }
        control = std::make_unique<ControlServer>(window, app.errorReporter());
        control->setExportFolder(exportFolder);
        control->setToken(parser.isSet(controlToken)
                              ? parser.value(controlToken)
                              : qEnvironmentVariable("VORLAK_CONTROL_TOKEN"));
        if (!control->listen(static_cast<quint16>(port))) {
            std::fprintf(stderr, "vorlak: cannot open the control port %u: %s\n", port,
                         qPrintable(control->errorString()));
            return 2;
        }
        control->commands().setJobArchive(jobArchive.get());
        std::fprintf(stderr, "vorlak: control port listening on 127.0.0.1:%u\n", control->port());
        QObject::connect(control.get(), &ControlServer::quitRequested, &window, &QWidget::close);
    }

    // The scenario's triggers and the HTTP front run in the control port's table, or in one of
    // their own when there is no control port: one table for every front.
    std::unique_ptr<ControlCommands> ownCommands;
    const auto commandTable = [&]() -> ControlCommands & {
        if (control)
            return control->commands();
        if (!ownCommands) {
            ownCommands = std::make_unique<ControlCommands>(window, &app.errorReporter());
            ownCommands->setExportFolder(exportFolder);
            ownCommands->setJobArchive(jobArchive.get());
            QObject::connect(ownCommands.get(), &ControlCommands::quitRequested, &window,
                             &QWidget::close);
        }
        return *ownCommands;
    };
    if (parser.isSet(scenario)) {
        QString problem;
        if (!ScenarioFile::arm(parser.value(scenario), commandTable(), &problem)) {
            std::fprintf(stderr, "vorlak: --scenario: %s\n", qPrintable(problem));
            return 2;
        }
    }

    std::unique_ptr<HttpFront> http;
    if (parser.isSet(httpPort)) {
        bool portOk = false;
        const uint port = parser.value(httpPort).toUInt(&portOk);
        if (!portOk || port > 65535) {
            std::fprintf(stderr, "vorlak: --http-port needs a port number from 0 to 65535\n");
            return 2;
        }
        const QHostAddress address(parser.value(httpBind));
        if (address.isNull()) {
            std::fprintf(stderr, "vorlak: --http-bind needs an IP address, not \"%s\"\n",
                         qPrintable(parser.value(httpBind)));
            return 2;
        }
        const QString token = parser.isSet(httpToken) ? parser.value(httpToken)
                                                      : qEnvironmentVariable("VORLAK_HTTP_TOKEN");
        if (!address.isLoopback() && token.isEmpty()) {
            std::fprintf(stderr,
                         "vorlak: --http-bind %s is reachable from other machines: it needs "
                         "--http-token TOKEN (or VORLAK_HTTP_TOKEN)\n",
                         qPrintable(address.toString()));
            return 2;
        }
        http = std::make_unique<HttpFront>(window, commandTable(), &app.errorReporter());
        http->setToken(token);
        if (!http->listen(address, static_cast<quint16>(port))) {
            std::fprintf(stderr, "vorlak: cannot open the HTTP port %s:%u: %s\n",
                         qPrintable(address.toString()), port, qPrintable(http->errorString()));
            return 2;
        }
        const QString shown = address.protocol() == QAbstractSocket::IPv6Protocol
                                  ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                                  : address.toString();
        std::fprintf(stderr, "vorlak: HTTP listening on %s:%u\n", qPrintable(shown), http->port());
    }
    return app.exec();
}
