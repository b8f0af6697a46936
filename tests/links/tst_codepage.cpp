// The links' 8-bit code page (Windows-1252), both ways.

#include "codepage.h"

#include <QTest>

class TestCodePage : public QObject
{
    Q_OBJECT
private slots:
    void bytesToText_data();
    void bytesToText();
    void everyByteRoundTrips();
    void unrepresentableBecomesQuestionMark();
};

void TestCodePage::bytesToText_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("code");
    QTest::newRow("EOT") << 0x04 << 0x04;
    QTest::newRow("DEL") << 0x7F << 0x7F;
    QTest::newRow("euro") << 0x80 << 0x20AC;
    QTest::newRow("undefined 0x81") << 0x81 << 0x81;
    QTest::newRow("quote") << 0x93 << 0x201C;
    QTest::newRow("a umlaut") << 0xE4 << 0xE4;
    QTest::newRow("A umlaut") << 0xC4 << 0xC4;
    QTest::newRow("y diaeresis") << 0xFF << 0xFF;
}

void TestCodePage::bytesToText()
{
    QFETCH(int, byte);
    QFETCH(int, code);
    const QString text = CodePage::toText(QByteArray(1, static_cast<char>(byte)));
    QCOMPARE(text.size(), 1);
    QCOMPARE(int(text[0].unicode()), code);
}

void TestCodePage::everyByteRoundTrips()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    QCOMPARE(CodePage::toBytes(CodePage::toText(all)), all);
}

void TestCodePage::unrepresentableBecomesQuestionMark()
{
    QCOMPARE(CodePage::toBytes(QStringLiteral("A\u0141\u20AC")), QByteArray("A?\x80"));
}

QTEST_GUILESS_MAIN(TestCodePage)
#include "tst_codepage.moc"
