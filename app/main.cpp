#include "appoptions.h"
#include "frmvorlak.h"
#include "vorlakapplication.h"

#include <QCommandLineParser>

#include <cstdio>
#include <cstdlib>

namespace
{

// Without a display the simulator still serves the host: it starts on the offscreen platform.
void chooseOffscreenWithoutDisplay()
{
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
    chooseOffscreenWithoutDisplay();
    VorlakApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vorlak"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORLAK_VERSION_STRING));

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
    const QCommandLineOption serialDevice(
        QStringLiteral("serial-device"),
        QStringLiteral("Offers PATH in the setup dialog's serial port list besides the system's "
                       "serial ports, for a pseudo-terminal or a socat link (may be repeated)."),
        QStringLiteral("PATH"));
    parser.addOption(dataDir);
    parser.addOption(speed);
    parser.addOption(serialDevice);
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

    app.setQuitOnLastWindowClosed(false);
    TfrmVorlak window(options);
    QObject::connect(&window, &TfrmVorlak::closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    window.show();
    return app.exec();
}
