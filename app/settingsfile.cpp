#include "settingsfile.h"

#include "frmsetup.h"
#include "inifile.h"
#include "vorlakerror.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSpinBox>
#include <QWidget>

#include <sys/stat.h>
#include <unistd.h>

namespace
{

const QString kForm = QStringLiteral("Form");
const QString kSetup = QStringLiteral("Setup");

// No window can be larger than all screens together (as on other desktops), and no less than
// 4096 x 4096 is allowed. A larger size from the file is not harmless: a window of 100000 x
// 100000 pixels gets no backing store (40 GB), every paint of it fails and it stays blank.
QSize largestWindow()
{
    QSize largest(0, 0);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        largest = screen->virtualGeometry().size();
    return largest.expandedTo(QSize(4096, 4096));
}

// The owner of a folder or file (of a link itself, not of what it points to); false when
// there is nothing of that name.
bool ownerOf(const QString &path, uid_t *owner)
{
    struct stat status {
    };
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return false;
    *owner = status.st_uid;
    return true;
}

// In a data folder another user owns (a shared /tmp/rig, say), that user could plant
// Vorlak.ini as a link to any file this program may write, and have the settings appended to
// it. Only the program's own user and root are trusted with the folder and the file.
void refuseForeignOwner(const QString &path)
{
    const uid_t me = ::geteuid();
    const QString folder = QFileInfo(path).absolutePath();
    for (const QString &part : {folder, path}) {
        uid_t owner = 0;
        if (ownerOf(part, &owner) && owner != me && owner != 0) {
            throw VorlakError(QStringLiteral("In %1 kann nicht geschrieben werden: %2 gehört "
                                             "einem anderen Benutzer (uid %3)")
                                  .arg(path, part)
                                  .arg(owner));
        }
    }
}

} // namespace

namespace SettingsFile
{

QSize read(const QString &path, QWidget &window, TfrmSetup &setup)
{
    const IniFile ini(path);
    const QRect frame = window.frameGeometry();
    const int top = ini.readInteger(kForm, QStringLiteral("Top"), 0);
    const int left = ini.readInteger(kForm, QStringLiteral("Left"), 0);
    window.move(left, top);
    QSize outer(ini.readInteger(kForm, QStringLiteral("Width"), frame.width()),
                ini.readInteger(kForm, QStringLiteral("Height"), frame.height()));
    outer = outer.boundedTo(largestWindow());
    const QSize frameExtra = frame.size() - window.size();
    // The window's minimum size applies.
    window.resize(outer - frameExtra);

    setup.udFont0->setValue(
        ini.readInteger(kSetup, QStringLiteral("Font0"), setup.udFont0->value()));
    setup.udFont1->setValue(
        ini.readInteger(kSetup, QStringLiteral("Font1"), setup.udFont1->value()));
    setup.ePort->setText(ini.readString(kSetup, QStringLiteral("Port"), setup.ePort->text()));
    setup.cbReverse->setChecked(
        ini.readBool(kSetup, QStringLiteral("Reverse"), setup.cbReverse->isChecked()));
    setup.cbStayOnTop->setChecked(
        ini.readBool(kSetup, QStringLiteral("StayOnTop"), setup.cbStayOnTop->isChecked()));
    return outer;
}

void write(const QString &path, const QWidget &window, const TfrmSetup &setup)
{
    refuseForeignOwner(path);
    IniFile ini(path);
    const QRect frame = window.frameGeometry();
    ini.writeInteger(kForm, QStringLiteral("Top"), frame.top());
    ini.writeInteger(kForm, QStringLiteral("Left"), frame.left());
    ini.writeInteger(kForm, QStringLiteral("Width"), frame.width());
    ini.writeInteger(kForm, QStringLiteral("Height"), frame.height());
    ini.writeInteger(kSetup, QStringLiteral("Font0"), setup.udFont0->value());
    ini.writeInteger(kSetup, QStringLiteral("Font1"), setup.udFont1->value());
    ini.writeString(kSetup, QStringLiteral("Port"), setup.ePort->text());
    ini.writeBool(kSetup, QStringLiteral("Reverse"), setup.cbReverse->isChecked());
    ini.writeBool(kSetup, QStringLiteral("StayOnTop"), setup.cbStayOnTop->isChecked());
    if (!ini.save())
        throw VorlakError(QStringLiteral("In %1 kann nicht geschrieben werden").arg(path));
}

} // namespace SettingsFile
