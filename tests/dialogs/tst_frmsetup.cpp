// The setup dialog on its own: what it shows first, the serial port list from a described
// machine, the port field's input rules, the keyboard order, and the keys that do not close it.

#include "frmsetup.h"
#include "serialdevices.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace
{

// A tty class folder as the kernel shows it: one sub-folder per tty, "device/driver" where a
// driver is bound, "type" for 8250-style ports.
class FakeTtyClass
{
public:
    void add(const QString &name, bool hasDriver, const char *uartType = nullptr)
    {
        const QString folder = m_dir.filePath(name);
        QDir().mkpath(hasDriver ? folder + QStringLiteral("/device/driver") : folder);
        if (uartType) {
            QFile type(folder + QStringLiteral("/type"));
            QVERIFY(type.open(QIODevice::WriteOnly));
            type.write(uartType);
        }
    }
    QString root() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

QStringList items(const QComboBox *box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list.append(box->itemText(i));
    return list;
}

} // namespace

class TestFrmSetup : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void firstShowShowsDefaults();
    void systemSerialDevicesAreRealOnesInNaturalOrder();
    void missingTtyClassLeavesNone();
    void previousChoiceIsSelectedAgain();
    void vanishedChoiceSelectsNothingThenNone();
    void selectComboTextIgnoresCase();
    void portFieldTakesTypedDigitsOnly();
    void portFieldKeepsTextTheProgramSets();
    void keyboardVisitsControlsInOrder();
    void opensInFirstControlOfTabOrder();
    void enterAndEscapeDoNotClose();
    void closeButtonCancels();
    void fontFieldKeepsLastValidNumber();

private:
    std::unique_ptr<TfrmSetup> m_dialog;
    std::unique_ptr<FakeTtyClass> m_tty;
};

void TestFrmSetup::init()
{
    m_tty = std::make_unique<FakeTtyClass>();
    m_tty->add(QStringLiteral("ttyS0"), true, "4\n");
    m_dialog = std::make_unique<TfrmSetup>();
    m_dialog->setTtyClassRoot(m_tty->root());
}

void TestFrmSetup::firstShowShowsDefaults()
{
    m_dialog->show();
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("Maschinen Parameter"));
    QCOMPARE(m_dialog->size(), QSize(205, 219));
    QCOMPARE(m_dialog->ePort->text(), QStringLiteral("10001"));
    QCOMPARE(items(m_dialog->cbProtocol), QStringList{QStringLiteral("SEP")});
    QCOMPARE(m_dialog->cbProtocol->currentText(), QStringLiteral("SEP"));
    QCOMPARE(m_dialog->font0Height(), 5);
    QCOMPARE(m_dialog->font1Height(), 5);
    QCOMPARE(m_dialog->udFont0->minimum(), 1);
    QCOMPARE(m_dialog->udFont0->maximum(), 99);
    QVERIFY(!m_dialog->stayOnTop());
    QVERIFY(!m_dialog->reverse());
    QVERIFY(!m_dialog->cbReverse->isVisible());
    QCOMPARE(m_dialog->cbReverse->text(), QStringLiteral("180° gedreht"));
    QCOMPARE(items(m_dialog->cbCOM), (QStringList{"NONE", "/dev/ttyS0"}));
    QCOMPARE(m_dialog->serialPortName(), QStringLiteral("NONE"));
    QVERIFY(!m_dialog->btnOK->isDefault() && !m_dialog->btnOK->autoDefault());
    QVERIFY(!m_dialog->btnCancel->isDefault() && !m_dialog->btnCancel->autoDefault());
}

void TestFrmSetup::systemSerialDevicesAreRealOnesInNaturalOrder()
{
    FakeTtyClass tty;
    tty.add(QStringLiteral("ttyS10"), true, "4");
    tty.add(QStringLiteral("ttyS2"), true, "1");
    tty.add(QStringLiteral("ttyS1"), true, "0\n"); // reserved name, no UART
    tty.add(QStringLiteral("ttyS3"), false, "4");  // no driver bound
    tty.add(QStringLiteral("ttyUSB0"), true);
    tty.add(QStringLiteral("ttyACM0"), true);
    tty.add(QStringLiteral("ttyAMA0"), true);
    tty.add(QStringLiteral("rfcomm0"), false);
    tty.add(QStringLiteral("tty0"), false); // virtual console
    tty.add(QStringLiteral("ptmx"), false);
    tty.add(QStringLiteral("console"), false);
    QCOMPARE(SystemSerialDevices(tty.root()),
             (QStringList{"/dev/rfcomm0", "/dev/ttyACM0", "/dev/ttyAMA0", "/dev/ttyS2",
                          "/dev/ttyS10", "/dev/ttyUSB0"}));

    m_dialog->setTtyClassRoot(tty.root());
    m_dialog->setExtraSerialPorts({QStringLiteral("/tmp/vserial0")});
    m_dialog->show();
    QCOMPARE(items(m_dialog->cbCOM),
             (QStringList{"NONE", "/dev/rfcomm0", "/dev/ttyACM0", "/dev/ttyAMA0", "/dev/ttyS2",
                          "/dev/ttyS10", "/dev/ttyUSB0", "/tmp/vserial0"}));
}

void TestFrmSetup::missingTtyClassLeavesNone()
{
    m_dialog->setTtyClassRoot(m_tty->root() + QStringLiteral("/nowhere"));
    QStringList list;
    QVERIFY(!m_dialog->ListSerialPorts(list));
    QVERIFY(list.isEmpty());
    m_dialog->show();
    QCOMPARE(items(m_dialog->cbCOM), QStringList{QStringLiteral("NONE")});
    QCOMPARE(m_dialog->serialPortName(), QStringLiteral("NONE"));
}

void TestFrmSetup::previousChoiceIsSelectedAgain()
{
    m_dialog->show();
    m_dialog->cbCOM->setCurrentText(QStringLiteral("/dev/ttyS0"));
    m_dialog->hide();
    m_tty->add(QStringLiteral("ttyUSB0"), true);
    m_dialog->show();
    QCOMPARE(items(m_dialog->cbCOM), (QStringList{"NONE", "/dev/ttyS0", "/dev/ttyUSB0"}));
    QCOMPARE(m_dialog->serialPortName(), QStringLiteral("/dev/ttyS0"));
}

void TestFrmSetup::vanishedChoiceSelectsNothingThenNone()
{
    m_dialog->setExtraSerialPorts({QStringLiteral("/dev/pts/7")});
    m_dialog->show();
    m_dialog->cbCOM->setCurrentText(QStringLiteral("/dev/pts/7"));
    m_dialog->hide();
    m_dialog->setExtraSerialPorts({});
    m_dialog->show();
    QCOMPARE(m_dialog->cbCOM->currentIndex(), -1);
    QCOMPARE(m_dialog->serialPortName(), QString());
    m_dialog->hide();
    m_dialog->show();
    QCOMPARE(m_dialog->serialPortName(), QStringLiteral("NONE"));
}

void TestFrmSetup::selectComboTextIgnoresCase()
{
    QComboBox box;
    box.addItems({QStringLiteral("NONE"), QStringLiteral("/dev/ttyUSB0")});
    TfrmSetup::SelectComboText(QStringLiteral("/DEV/TTYusb0"), &box);
    QCOMPARE(box.currentIndex(), 1);
    TfrmSetup::SelectComboText(QStringLiteral("none"), &box);
    QCOMPARE(box.currentIndex(), 0);
    TfrmSetup::SelectComboText(QStringLiteral("/dev/ttyUSB"), &box);
    QCOMPARE(box.currentIndex(), -1);
    QCOMPARE(box.currentText(), QString());
}

void TestFrmSetup::portFieldTakesTypedDigitsOnly()
{
    m_dialog->show();
    TDigitEdit *port = m_dialog->ePort;
    port->selectAll();
    QTest::keyClicks(port, QStringLiteral("8a0-0 1.9"));
    QCOMPARE(port->text(), QStringLiteral("80019"));
    QTest::keyClicks(port, QStringLiteral("7"));
    QCOMPARE(port->text(), QStringLiteral("80019"));
    // Typing over a selection replaces it, within the limit.
    port->setSelection(1, 2);
    QTest::keyClicks(port, QStringLiteral("555"));
    QCOMPARE(port->text(), QStringLiteral("85519"));
    // Pasted text goes through the same rule.
    port->clear();
    QGuiApplication::clipboard()->setText(QStringLiteral("ab1 2-34567"));
    QTest::keySequence(port, QKeySequence::Paste);
    QCOMPARE(port->text(), QStringLiteral("12345"));
}

void TestFrmSetup::portFieldKeepsTextTheProgramSets()
{
    // A settings file may hold any text; it is shown and kept as it is.
    m_dialog->ePort->setText(QStringLiteral("1234567x"));
    QCOMPARE(m_dialog->portText(), QStringLiteral("1234567x"));
    m_dialog->show();
    m_dialog->ePort->setCursorPosition(8);
    QTest::keyClick(m_dialog->ePort, Qt::Key_Backspace);
    QCOMPARE(m_dialog->portText(), QStringLiteral("1234567"));
    QTest::keyClicks(m_dialog->ePort, QStringLiteral("1"));
    QCOMPARE(m_dialog->portText(), QStringLiteral("1234567"));
}

void TestFrmSetup::keyboardVisitsControlsInOrder()
{
    m_dialog->show();
    QApplication::setActiveWindow(m_dialog.get());
    QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
    QWidget *const expected[] = {m_dialog->udFont0,     m_dialog->udFont1, m_dialog->btnOK,
                                 m_dialog->btnCancel,   m_dialog->ePort,   m_dialog->cbProtocol,
                                 m_dialog->cbStayOnTop, m_dialog->cbCOM,   m_dialog->udFont0};
    m_dialog->udFont0->setFocus();
    for (QWidget *widget : expected) {
        QCOMPARE(QApplication::focusWidget(), widget);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
}

// The dialog opens in Font 0, the first visible control the keyboard visits, every time, even
// after the operator left it in another field.
void TestFrmSetup::opensInFirstControlOfTabOrder()
{
    for (QWidget *leftIn : {static_cast<QWidget *>(m_dialog->ePort),
                            static_cast<QWidget *>(m_dialog->cbCOM)}) {
        QWidget *focused = nullptr;
        QTimer::singleShot(0, m_dialog.get(), [&] {
            QApplication::setActiveWindow(m_dialog.get());
            (void)QTest::qWaitForWindowActive(m_dialog.get());
            focused = QApplication::focusWidget();
            leftIn->setFocus();
            m_dialog->btnCancel->click();
        });
        m_dialog->exec();
        QCOMPARE(focused, m_dialog->udFont0);
        QCOMPARE(m_dialog->focusWidget(), leftIn);
    }
}

void TestFrmSetup::enterAndEscapeDoNotClose()
{
    int result = -1;
    QTimer::singleShot(0, m_dialog.get(), [&] {
        m_dialog->ePort->setFocus();
        QTest::keyClick(m_dialog->ePort, Qt::Key_Return);
        QTest::keyClick(m_dialog->ePort, Qt::Key_Escape);
        m_dialog->btnOK->setFocus();
        QTest::keyClick(m_dialog->btnOK, Qt::Key_Enter);
        QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
        result = m_dialog->isVisible() ? 0 : 1;
        m_dialog->btnCancel->click();
    });
    QCOMPARE(m_dialog->exec(), int(QDialog::Rejected));
    QCOMPARE(result, 0);
}

void TestFrmSetup::closeButtonCancels()
{
    QTimer::singleShot(0, m_dialog.get(), [&] { m_dialog->close(); });
    QCOMPARE(m_dialog->exec(), int(QDialog::Rejected));
    QTimer::singleShot(0, m_dialog.get(), [&] { m_dialog->btnOK->click(); });
    QCOMPARE(m_dialog->exec(), int(QDialog::Accepted));
}

void TestFrmSetup::fontFieldKeepsLastValidNumber()
{
    m_dialog->show();
    QSpinBox *font = m_dialog->udFont0;
    font->setFocus();
    font->selectAll();
    QTest::keyClicks(font, QStringLiteral("8"));
    QCOMPARE(m_dialog->font0Height(), 8);
    font->selectAll();
    QTest::keyClick(font, Qt::Key_Backspace);
    QCOMPARE(m_dialog->font0Height(), 8);
    QTest::keyClicks(font, QStringLiteral("0"));
    QCOMPARE(m_dialog->font0Height(), 8);
    QTest::keyClick(font, Qt::Key_Backspace);
    QTest::keyClicks(font, QStringLiteral("9"));
    QCOMPARE(m_dialog->font0Height(), 9);
    font->setValue(150);
    QCOMPARE(m_dialog->font0Height(), 99);
}

QTEST_MAIN(TestFrmSetup)
#include "tst_frmsetup.moc"
