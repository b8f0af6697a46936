// Machine units to card pixels: extended precision in the machine's order of operations, halves
// rounded to the even neighbour.

#include "cardunits.h"
#include "vorlakerror.h"

#include <QTest>

class TestCardUnits : public QObject
{
    Q_OBJECT
private slots:
    void tenthsToPixels_data();
    void tenthsToPixels();
    void charOffset_data();
    void charOffset();
    void badPitchFails();
    void fontHeightPixels_data();
    void fontHeightPixels();
    void cardPixels_data();
    void cardPixels();
    void hugeValuesStayInRange();
};

void TestCardUnits::tenthsToPixels_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("ppi");
    QTest::addColumn<int>("pixels");
    QTest::newRow("120 at 96") << "120" << 96 << 68;
    QTest::newRow("085 at 96") << "085" << 96 << 48;
    QTest::newRow("226 at 96") << "226" << 96 << 128;
    QTest::newRow("999 at 96") << "999" << 96 << 566;
    QTest::newRow("negative") << "-85" << 96 << -48;
    QTest::newRow("not a number counts as 0") << "A12" << 96 << 0;
    QTest::newRow("empty counts as 0") << "" << 96 << 0;
    // At 127 ppi one unit is exactly 0.75 pixels: the halves show the rounding.
    QTest::newRow("1.5 rounds up to 2") << "2" << 127 << 2;
    QTest::newRow("4.5 rounds down to 4") << "6" << 127 << 4;
    QTest::newRow("7.5 rounds up to 8") << "10" << 127 << 8;
    QTest::newRow("10.5 rounds down to 10") << "14" << 127 << 10;
}

void TestCardUnits::tenthsToPixels()
{
    QFETCH(QString, text);
    QFETCH(int, ppi);
    QFETCH(int, pixels);
    QCOMPARE(TenthsToPixels(text, ppi, 1.5), pixels);
}

void TestCardUnits::charOffset_data()
{
    QTest::addColumn<QString>("pitch");
    QTest::addColumn<int>("j");
    QTest::addColumn<int>("ppi");
    QTest::addColumn<int>("pixels");
    // A tenth of an inch: 14.4 pixels a character.
    QTest::newRow("pitch 14, j 0") << "14" << 0 << 96 << 0;
    QTest::newRow("pitch 14, j 1") << "14" << 1 << 96 << 14;
    QTest::newRow("pitch 14, j 2") << "14" << 2 << 96 << 29;
    QTest::newRow("pitch 14, j 3") << "14" << 3 << 96 << 43;
    QTest::newRow("pitch 14, j 4") << "14" << 4 << 96 << 58;
    QTest::newRow("leading blank") << " 7" << 2 << 96 << 14;
    QTest::newRow("negative pitch") << "-7" << 2 << 96 << -14;
    // At 70 ppi: 0.75 pixels per pitch unit and character.
    QTest::newRow("1.5 to 2") << "2" << 1 << 70 << 2;
    QTest::newRow("4.5 to 4") << "6" << 1 << 70 << 4;
}

void TestCardUnits::charOffset()
{
    QFETCH(QString, pitch);
    QFETCH(int, j);
    QFETCH(int, ppi);
    QFETCH(int, pixels);
    QCOMPARE(CharOffset(pitch, j, ppi, 1.5, 140), pixels);
}

void TestCardUnits::badPitchFails()
{
    for (const QString &pitch : {QStringLiteral("x1"), QStringLiteral(""), QStringLiteral("7 ")}) {
        try {
            CharOffset(pitch, 0, 96, 1.5, 140);
            QFAIL(qPrintable(QStringLiteral("no error for '%1'").arg(pitch)));
        } catch (const VorlakError &error) {
            QCOMPARE(error.message(),
                     QStringLiteral("'%1' ist kein gültiger Integerwert").arg(pitch));
        }
    }
}

void TestCardUnits::fontHeightPixels_data()
{
    QTest::addColumn<int>("millimetres");
    QTest::addColumn<int>("pixels");
    QTest::newRow("5 mm") << 5 << 28;
    QTest::newRow("8 mm") << 8 << 45;
    QTest::newRow("1 mm") << 1 << 6;
    QTest::newRow("99 mm") << 99 << 561;
}

void TestCardUnits::fontHeightPixels()
{
    QFETCH(int, millimetres);
    QFETCH(int, pixels);
    QCOMPARE(FontHeightPixels(millimetres, 96, 1.5), pixels);
}

void TestCardUnits::cardPixels_data()
{
    QTest::addColumn<int>("tenths");
    QTest::addColumn<int>("ppi");
    QTest::addColumn<int>("pixels");
    QTest::newRow("85.6 mm") << 856 << 96 << 485;
    QTest::newRow("54.0 mm") << 540 << 96 << 306;
    QTest::newRow("0") << 0 << 96 << 0;
    QTest::newRow("9999 at 96") << 9999 << 96 << 5669;
    QTest::newRow("120 ppi") << 856 << 120 << 607;
    QTest::newRow("1.5 to 2") << 2 << 127 << 2;
    QTest::newRow("2.25 to 2") << 3 << 127 << 2;
}

void TestCardUnits::cardPixels()
{
    QFETCH(int, tenths);
    QFETCH(int, ppi);
    QFETCH(int, pixels);
    QCOMPARE(CardPixels(tenths, ppi, 1.5), pixels);
}

void TestCardUnits::hugeValuesStayInRange()
{
    // A very long line must not overflow the positions of its last characters.
    const int32_t far = CharOffset(QStringLiteral("99"), int64_t(1) << 40, 96, 1.5, 140);
    QCOMPARE(far, int32_t(1) << 30);
    QCOMPARE(CharOffset(QStringLiteral("-99"), int64_t(1) << 40, 96, 1.5, 140),
             -(int32_t(1) << 30));
    QCOMPARE(CardPixels(2147483647, 96, 1.5), int32_t(1) << 30);
}

QTEST_APPLESS_MAIN(TestCardUnits)
#include "tst_cardunits.moc"
