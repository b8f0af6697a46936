// Shows the setup dialog, the traffic monitor with a host session in it and the About box, and
// saves a picture of each (QWidget::grab) into the folder given as the first argument.
// Run by tools/screenshot-dialogs.sh on a virtual X display.

#include "aboutbox.h"
#include "abouttexts.h"
#include "aboutwnd.h"
#include "frmsetup.h"
#include "monitorform.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QTest>

namespace
{

void save(QWidget *widget, const QString &folder, const QString &name)
{
    QTest::qWait(300);
    const QString path = QDir(folder).filePath(name);
    widget->grab().save(path);
    std::printf("%s\n", qPrintable(path));
}

void saveScreen(const QString &folder, const QString &name)
{
    QTest::qWait(300);
    const QString path = QDir(folder).filePath(name);
    QGuiApplication::primaryScreen()->grabWindow(0).save(path);
    std::printf("%s\n", qPrintable(path));
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // The program's own font stand-ins for the Windows UI fonts.
    for (const char *family : {"Tahoma", "Segoe UI", "MS Sans Serif"})
        QFont::insertSubstitution(QString::fromLatin1(family), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();

    TfrmSetup setup;
    setup.setExtraSerialPorts({QStringLiteral("/dev/pts/3")});
    setup.show();
    save(&setup, folder, QStringLiteral("setup.png"));
    setup.cbCOM->showPopup();
    saveScreen(folder, QStringLiteral("setup-portlist.png"));
    setup.cbCOM->hidePopup();
    setup.hide();

    TMonitorForm monitor;
    monitor.show();
    QTest::qWait(200);
    const QString poll = QStringLiteral("\x04"
                                        "31\x05");
    for (int i = 0; i < 3; ++i) {
        monitor.LogTraffic(0, poll);
        monitor.LogTraffic(1, QStringLiteral("\x06P "));
    }
    monitor.LogTraffic(0, QStringLiteral("\x04"
                                         "31r"));
    monitor.LogTraffic(0, poll);
    monitor.LogTraffic(1, QStringLiteral("\x06R "));
    monitor.LogTraffic(0, poll);
    monitor.LogTraffic(1, QStringLiteral("\x06"
                                         "1 "));
    monitor.LogTraffic(0, QStringLiteral("\x01"
                                         "31\x02"
                                         "F]00 U0 0860 0540 01 0100 0200 0 14\x03"));
    monitor.LogTraffic(1, QStringLiteral("\x06"
                                         "2 "));
    monitor.LogTraffic(0, QStringLiteral("\x01"
                                         "31\x02"
                                         "T]00\x1e"
                                         "JOHN DOE\x1e"
                                         "\u00C4RZTEKAMMER \u20AC 12\r\n@JOB 0001\x03"));
    monitor.LogTraffic(1, QStringLiteral("\x06"
                                         "2 "));
    for (int i = 0; i < 4; ++i) {
        monitor.LogTraffic(0, poll);
        monitor.LogTraffic(1, QStringLiteral("\x06"
                                             "3\x02"
                                             "E82        FEEDER EMPTY\x03 "));
    }
    save(&monitor, folder, QStringLiteral("monitor.png"));
    monitor.hide();

    TAboutBox box;
    box.setAppName(QStringLiteral("Vorlak"));
    box.setCopyright(aboutCopyright());
    box.setUrl(aboutUrl());
    TAboutWnd about(box);
    about.show();
    save(&about, folder, QStringLiteral("about.png"));
    return 0;
}
