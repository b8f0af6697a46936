// The framework's own windows speak German like the rest of the program, whatever the locale
// (the suite runs under LC_ALL=C.UTF-8): file dialogs and message-box buttons.

#include "simulatorharness.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

class TestGermanTexts : public QObject
{
    Q_OBJECT
private slots:
    void fileDialogTexts_data();
    void fileDialogTexts();
    void messageBoxButtons_data();
    void messageBoxButtons();
};

void TestGermanTexts::fileDialogTexts_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("acceptButton");
    QTest::newRow("open") << int(QFileDialog::AcceptOpen) << QStringLiteral("&Öffnen");
    QTest::newRow("save") << int(QFileDialog::AcceptSave) << QStringLiteral("S&peichern");
}

void TestGermanTexts::fileDialogTexts()
{
    QFETCH(int, mode);
    QFETCH(QString, acceptButton);
    // The dialog the program opens for a background picture is Qt's own on this desktop.
    QFileDialog dialog(nullptr, QStringLiteral("Hintergrundbild laden"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptMode(mode));
    auto *buttons = dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    QVERIFY(buttons);
    QStringList captions;
    const QList<QAbstractButton *> all = buttons->buttons();
    for (QAbstractButton *button : all)
        captions << button->text();
    QVERIFY2(captions.contains(acceptButton), qPrintable(captions.join(QLatin1Char('|'))));
    QVERIFY2(captions.contains(QStringLiteral("Abbrechen")),
             qPrintable(captions.join(QLatin1Char('|'))));
    const auto label = [&](const char *name) {
        const auto *found = dialog.findChild<QLabel *>(QString::fromLatin1(name));
        return found ? found->text() : QStringLiteral("(missing)");
    };
    QCOMPARE(label("lookInLabel"), QStringLiteral("Suchen in:"));
    QCOMPARE(label("fileNameLabel"), QStringLiteral("Datei&name:"));
}

void TestGermanTexts::messageBoxButtons_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("caption");
    QTest::newRow("OK") << int(QMessageBox::Ok) << QStringLiteral("OK");
    QTest::newRow("Cancel") << int(QMessageBox::Cancel) << QStringLiteral("Abbrechen");
    QTest::newRow("Yes") << int(QMessageBox::Yes) << QStringLiteral("&Ja");
    QTest::newRow("No") << int(QMessageBox::No) << QStringLiteral("&Nein");
    QTest::newRow("Close") << int(QMessageBox::Close) << QStringLiteral("Schließen");
}

void TestGermanTexts::messageBoxButtons()
{
    QFETCH(int, button);
    QFETCH(QString, caption);
    QMessageBox box(QMessageBox::Critical, QStringLiteral("vorlak"), QStringLiteral("Fehler."),
                    QMessageBox::StandardButton(button));
    QAbstractButton *shown = box.button(QMessageBox::StandardButton(button));
    QVERIFY(shown);
    QCOMPARE(shown->text(), caption);
}

VORLAK_TEST_MAIN(TestGermanTexts)
#include "tst_germantexts.moc"
