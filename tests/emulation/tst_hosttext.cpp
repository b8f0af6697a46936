// The text rules of the host's message bodies: field lines, the "@" separator, trimming and the
// integer syntax of the numbers the host sends as text.

#include "hosttext.h"
#include "vorlakerror.h"

#include <QTest>

class TestHostText : public QObject
{
    Q_OBJECT
private slots:
    void splitFieldLines_data();
    void splitFieldLines();
    void textAroundAt_data();
    void textAroundAt();
    void trimBlanks();
    void hostIntegers_data();
    void hostIntegers();
    void conversionErrorNamesTheText();
};

void TestHostText::splitFieldLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("one line") << "AB" << QStringList{"AB"};
    QTest::newRow("CR LF, break at end") << "AB\r\nCD\r\n" << QStringList{"AB", "CD"};
    QTest::newRow("LF") << "AB\nCD" << QStringList{"AB", "CD"};
    QTest::newRow("CR") << "AB\rCD\r" << QStringList{"AB", "CD"};
    QTest::newRow("two breaks give an empty line") << "AB\r\n\r\nCD" << QStringList{"AB", "", "CD"};
    QTest::newRow("two breaks at end") << "AB\r\n\r\n" << QStringList{"AB", ""};
    QTest::newRow("LF CR is two breaks") << "AB\n\rCD" << QStringList{"AB", "", "CD"};
    QTest::newRow("only a break") << "\r\n" << QStringList{""};
    QTest::newRow("blanks kept") << " A B \r\n  " << QStringList{" A B ", "  "};
    QTest::newRow("NUL ends the text")
        << QString("AB\r\nC") + QChar(0) + "D\r\nEF" << QStringList{"AB", "C"};
    QTest::newRow("NUL first") << QString(QChar(0)) + "AB" << QStringList{};
}

void TestHostText::splitFieldLines()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QCOMPARE(SplitFieldLines(text), lines);
}

void TestHostText::textAroundAt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::newRow("tag") << "AB\r\nCD\r\n@12345"
                         << "AB\r\nCD\r\n"
                         << "12345";
    QTest::newRow("no @: whole text both ways") << "ABC"
                                                << "ABC"
                                                << "ABC";
    QTest::newRow("short tag") << "A@12"
                               << "A"
                               << "12";
    QTest::newRow("rest ignored") << "A@123456789"
                                  << "A"
                                  << "12345";
    QTest::newRow("second @ in the tag") << "A@12@45@"
                                         << "A"
                                         << "12@45";
    QTest::newRow("nothing before") << "@12345"
                                    << ""
                                    << "12345";
}

void TestHostText::textAroundAt()
{
    QFETCH(QString, text);
    QFETCH(QString, before);
    QFETCH(QString, after);
    QCOMPARE(TextBeforeAt(text), before);
    QCOMPARE(TextAfterAt(text), after);
}

void TestHostText::trimBlanks()
{
    QCOMPARE(TrimBlanks(QString(" \t\x01Y085X120F0P014\r\n ")), QStringLiteral("Y085X120F0P014"));
    QCOMPARE(TrimBlanks(QStringLiteral("A B")), QStringLiteral("A B"));
    QCOMPARE(TrimBlanks(QString(QChar(0)) + "  "), QString());
    // Characters above the blank are kept, whatever they are.
    QCOMPARE(TrimBlanks(QStringLiteral("\u00a0x\u00a0")), QStringLiteral("\u00a0x\u00a0"));
}

void TestHostText::hostIntegers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");
    QTest::newRow("digits") << "0540" << true << 540;
    QTest::newRow("leading blanks") << "  85" << true << 85;
    QTest::newRow("signs") << "-12" << true << -12;
    QTest::newRow("plus") << "+7" << true << 7;
    QTest::newRow("trailing blank") << "85 " << false << 0;
    QTest::newRow("inner blank") << "8 5" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("blanks only") << "   " << false << 0;
    QTest::newRow("sign only") << "-" << false << 0;
    QTest::newRow("letters") << "x1" << false << 0;
    QTest::newRow("hex is not decimal") << "$1F" << false << 0;
    QTest::newRow("int32 max") << "2147483647" << true << 2147483647;
    QTest::newRow("int32 min") << "-2147483648" << true << int(-2147483647 - 1);
    QTest::newRow("overflow") << "2147483648" << false << 0;
    QTest::newRow("long overflow") << "99999999999999999999999" << false << 0;
    QTest::newRow("arabic-indic digit") << QStringLiteral("\u0661") << false << 0;
}

void TestHostText::hostIntegers()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, value);
    QCOMPARE(HostStrToIntDef(text, -99), valid ? value : -99);
    if (valid) {
        QCOMPARE(HostStrToInt(text), value);
    } else {
        try {
            HostStrToInt(text);
            QFAIL("no conversion error");
        } catch (const VorlakError &error) {
            QCOMPARE(error.message(), ConversionErrorText(text));
        }
    }
}

void TestHostText::conversionErrorNamesTheText()
{
    QCOMPARE(ConversionErrorText(QStringLiteral("x1")),
             QStringLiteral("'x1' ist kein gültiger Integerwert"));
    // A NUL would cut the message short in the error box.
    QCOMPARE(ConversionErrorText(QString(QChar(0))),
             QStringLiteral("'' ist kein gültiger Integerwert"));
    // what() carries the message as UTF-8 for the error box.
    try {
        HostStrToInt(QStringLiteral("ü"));
    } catch (const std::exception &error) {
        QCOMPARE(QString::fromUtf8(error.what()),
                 QStringLiteral("'ü' ist kein gültiger Integerwert"));
    }
}

QTEST_APPLESS_MAIN(TestHostText)
#include "tst_hosttext.moc"
