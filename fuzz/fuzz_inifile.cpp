// The INI reader and writer: any bytes as the settings file, read the way the program reads it
// at start (applied to a window and the setup dialog), written back the way it writes it when
// it closes, then read once more.
//
// Checked besides the sanitizers: writing a file that could be read never fails, and every
// value written reads back as written (the port text as the reader normalises it: blanks at
// the ends dropped, one pair of enclosing quotes removed, line ends turned into blanks).

#include "frmsetup.h"
#include "fuzzsupport.h"
#include "inifile.h"
#include "settingsfile.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdlib>

namespace
{

struct Fixture {
    Fixture()
    {
        // On a memory file system where there is one: the writer syncs every file it saves.
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                                       : QDir::tempPath();
        dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/fuzz_inifile-XXXXXX"));
        if (!dir->isValid())
            std::abort();
        setup = std::make_unique<TfrmSetup>();
    }
    VorlakApplication &app = Fuzz::application(); // before any widget
    std::unique_ptr<QTemporaryDir> dir;
    QWidget window;
    std::unique_ptr<TfrmSetup> setup;
};

QString asReadBack(QString value)
{
    value.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    qsizetype begin = 0;
    qsizetype end = value.size();
    auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (begin < end && blank(value.at(begin)))
        ++begin;
    while (end > begin && blank(value.at(end - 1)))
        --end;
    value = value.mid(begin, end - begin);
    if (value.size() >= 2 &&
        (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\'')) &&
        value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return value.left(IniFile::kMaxValueLength);
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Fixture fixture;
    const QString path = fixture.dir->filePath(QStringLiteral("Vorlak.ini"));
    {
        QFile file(path);
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        check(file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size)) ==
              static_cast<qint64>(size));
    }

    // Every value starts from the program's defaults.
    QWidget &window = fixture.window;
    TfrmSetup &setup = *fixture.setup;
    window.setGeometry(0, 0, 525, 516);
    setup.udFont0->setValue(5);
    setup.udFont1->setValue(5);
    setup.ePort->setText(QStringLiteral("10001"));
    setup.cbReverse->setChecked(false);
    setup.cbStayOnTop->setChecked(false);

    {
        // Reads of names the program never uses, taken from the input itself.
        const IniFile ini(path);
        const QString name = QString::fromUtf8(reinterpret_cast<const char *>(data),
                                               static_cast<qsizetype>(std::min<size_t>(size, 8)));
        (void)ini.readString(name, name, QString());
        (void)ini.readInteger(QStringLiteral("Form"), name, 7);
        (void)ini.readBool(name, QStringLiteral("Reverse"), true);
    }

    SettingsFile::read(path, window, setup);
    try {
        SettingsFile::write(path, window, setup);
    } catch (...) {
        std::abort();
    }

    const IniFile back(path);
    const QRect frame = window.frameGeometry();
    check(back.readInteger(QStringLiteral("Form"), QStringLiteral("Top"), -1) == frame.top());
    check(back.readInteger(QStringLiteral("Form"), QStringLiteral("Left"), -1) == frame.left());
    check(back.readInteger(QStringLiteral("Form"), QStringLiteral("Width"), -1) == frame.width());
    check(back.readInteger(QStringLiteral("Form"), QStringLiteral("Height"), -1) == frame.height());
    check(back.readInteger(QStringLiteral("Setup"), QStringLiteral("Font0"), -1) ==
          setup.udFont0->value());
    check(back.readInteger(QStringLiteral("Setup"), QStringLiteral("Font1"), -1) ==
          setup.udFont1->value());
    check(back.readBool(QStringLiteral("Setup"), QStringLiteral("Reverse"), true) ==
          setup.cbReverse->isChecked());
    check(back.readBool(QStringLiteral("Setup"), QStringLiteral("StayOnTop"), true) ==
          setup.cbStayOnTop->isChecked());
    check(back.readString(QStringLiteral("Setup"), QStringLiteral("Port"), QString()) ==
          asReadBack(setup.ePort->text()));
    return 0;
}
