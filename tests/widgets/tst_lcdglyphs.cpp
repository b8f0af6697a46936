// The glyph tables of the dot-matrix display: their shape, what they must hold, and the glyphs
// whose rows are fixed.

#include "lcdglyphs.h"

#include <QtTest>

#include <set>

Q_DECLARE_METATYPE(TDotMatrix)

namespace
{

// Rows of a 5-dot glyph, bit 4 the leftmost dot.
QVector<int> rowsOf(TDotMatrix matrix, int code)
{
    QVector<int> rows;
    for (int r = 0; r < LCDGlyphs::cellHeight(matrix); ++r) {
        int bits = 0;
        for (int c = 0; c < LCDGlyphs::cellWidth(matrix); ++c)
            bits = bits << 1 | (LCDGlyphs::dotLit(matrix, code, r, c) ? 1 : 0);
        rows << bits;
    }
    return rows;
}

bool lightsAnything(TDotMatrix matrix, int code)
{
    for (int r = 0; r < LCDGlyphs::cellHeight(matrix); ++r)
        for (int c = 0; c < LCDGlyphs::cellWidth(matrix); ++c)
            if (LCDGlyphs::dotLit(matrix, code, r, c))
                return true;
    return false;
}

} // namespace

class TestLCDGlyphs : public QObject
{
    Q_OBJECT
private slots:
    void tableShape_data();
    void tableShape();
    void everyHeldGlyphButBlanksLightsADot_data();
    void everyHeldGlyphButBlanksLightsADot();
    void fixedGlyphRows_data();
    void fixedGlyphRows();
    void sharedAsciiGlyphs();
    void mat5x8ReachesTheEighthRowOnlyWithDescenders();
    void germanLettersAtTheirLatin1Codes();
    void hitachi2DrawsLowerCodesFromHitachi();
    void codesWithoutGlyph();
};

void TestLCDGlyphs::tableShape_data()
{
    QTest::addColumn<TDotMatrix>("matrix");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("firstCode");
    QTest::addColumn<int>("lastCode");
    QTest::addColumn<int>("bytes");
    QTest::newRow("mat5x7") << mat5x7 << 5 << 7 << 32 << 126 << 3325;
    QTest::newRow("mat5x8") << mat5x8 << 5 << 8 << 32 << 126 << 3800;
    QTest::newRow("mat7x9") << mat7x9 << 7 << 9 << 32 << 126 << 5985;
    QTest::newRow("mat9x12") << mat9x12 << 9 << 12 << 32 << 126 << 10260;
    QTest::newRow("Hitachi") << Hitachi << 5 << 7 << 32 << 223 << 6720;
    QTest::newRow("Hitachi2") << Hitachi2 << 5 << 10 << 194 << 223 << 1500;
    QTest::newRow("dos5x7") << dos5x7 << 5 << 7 << 0 << 255 << 8960;
}

void TestLCDGlyphs::tableShape()
{
    QFETCH(TDotMatrix, matrix);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, firstCode);
    QFETCH(int, lastCode);
    QFETCH(int, bytes);
    const LCDGlyphs::GlyphTable t = LCDGlyphs::table(matrix);
    QCOMPARE(int(t.size), bytes);
    QCOMPARE(t.width, width);
    QCOMPARE(t.height, height);
    QCOMPARE(t.firstCode, firstCode);
    QCOMPARE(t.lastCode, lastCode);
    for (std::size_t i = 0; i < t.size; ++i)
        QVERIFY2(t.dots[i] <= 1, qPrintable(QStringLiteral("byte %1 is %2").arg(i).arg(t.dots[i])));
}

void TestLCDGlyphs::everyHeldGlyphButBlanksLightsADot_data()
{
    QTest::addColumn<TDotMatrix>("matrix");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QList<int>>("blanks");
    const QList<int> space{32};
    QTest::newRow("mat5x7") << mat5x7 << 32 << 126 << space;
    QTest::newRow("mat5x8") << mat5x8 << 32 << 126 << space;
    QTest::newRow("mat7x9") << mat7x9 << 32 << 126 << space;
    QTest::newRow("mat9x12") << mat9x12 << 32 << 126 << space;
    // 128 is the katakana page's blank.
    QTest::newRow("Hitachi") << Hitachi << 32 << 223 << QList<int>{32, 128};
    QTest::newRow("Hitachi2") << Hitachi2 << 32 << 223 << QList<int>{32, 128, 222};
    // 0 and 255 (no-break space) are blank in code page 437.
    QTest::newRow("dos5x7") << dos5x7 << 0 << 255 << QList<int>{0, 32, 255};
}

void TestLCDGlyphs::everyHeldGlyphButBlanksLightsADot()
{
    QFETCH(TDotMatrix, matrix);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QList<int>, blanks);
    for (int code = from; code <= to; ++code) {
        QVERIFY(LCDGlyphs::holdsGlyph(matrix, code));
        QVERIFY2(lightsAnything(matrix, code) != blanks.contains(code),
                 qPrintable(QStringLiteral("code %1").arg(code)));
    }
}

void TestLCDGlyphs::fixedGlyphRows_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("rows");
    const char *const fixed[][2] = {
        {" ", "00 00 00 00 00 00 00"}, {"0", "0E 11 13 15 19 11 0E"}, {"1", "04 0C 04 04 04 04 0E"},
        {"2", "0E 11 01 02 04 08 1F"}, {"3", "1F 02 04 02 01 11 0E"}, {"4", "02 06 0A 12 1F 02 02"},
        {"5", "1F 10 1E 01 01 11 0E"}, {"6", "06 08 10 1E 11 11 0E"}, {"7", "1F 01 02 04 08 08 08"},
        {"8", "0E 11 11 0E 11 11 0E"}, {"9", "0E 11 11 0F 01 02 0C"}, {"A", "0E 11 11 11 1F 11 11"},
        {"B", "1E 11 11 1E 11 11 1E"}, {"C", "0E 11 10 10 10 11 0E"}, {"D", "1C 12 11 11 11 12 1C"},
        {"E", "1F 10 10 1E 10 10 1F"}, {"F", "1F 10 10 1E 10 10 10"}, {"G", "0E 11 10 17 11 11 0F"},
        {"H", "11 11 11 1F 11 11 11"}, {"I", "0E 04 04 04 04 04 0E"}, {"J", "07 02 02 02 02 12 0C"},
        {"K", "11 12 14 18 14 12 11"}, {"L", "10 10 10 10 10 10 1F"}, {"M", "11 1B 15 15 11 11 11"},
        {"N", "11 11 19 15 13 11 11"}, {"O", "0E 11 11 11 11 11 0E"}, {"P", "1E 11 11 1E 10 10 10"},
        {"Q", "0E 11 11 11 15 12 0D"}, {"R", "1E 11 11 1E 14 12 11"}, {"S", "0F 10 10 0E 01 01 1E"},
        {"T", "1F 04 04 04 04 04 04"}, {"U", "11 11 11 11 11 11 0E"}, {"V", "11 11 11 11 11 0A 04"},
        {"W", "11 11 11 15 15 15 0A"}, {"X", "11 11 0A 04 0A 11 11"}, {"Y", "11 11 11 0A 04 04 04"},
        {"Z", "1F 01 02 04 08 10 1F"},
    };
    for (const auto &row : fixed)
        QTest::newRow(row[0]) << int(row[0][0]) << QString::fromLatin1(row[1]);
}

void TestLCDGlyphs::fixedGlyphRows()
{
    QFETCH(int, code);
    QFETCH(QString, rows);
    QVector<int> expected;
    for (const QString &hex : rows.split(QLatin1Char(' ')))
        expected << hex.toInt(nullptr, 16);
    QCOMPARE(rowsOf(mat5x7, code), expected);
}

void TestLCDGlyphs::sharedAsciiGlyphs()
{
    // Hitachi holds 32 to 125 and dos5x7 32 to 126 as mat5x7 does; Hitachi's 126 is an arrow.
    for (int code = 32; code <= 126; ++code) {
        if (code <= 125)
            QVERIFY2(rowsOf(Hitachi, code) == rowsOf(mat5x7, code),
                     qPrintable(QString::number(code)));
        QVERIFY2(rowsOf(dos5x7, code) == rowsOf(mat5x7, code), qPrintable(QString::number(code)));
    }
    QVERIFY(rowsOf(Hitachi, 126) != rowsOf(mat5x7, 126));
}

void TestLCDGlyphs::mat5x8ReachesTheEighthRowOnlyWithDescenders()
{
    const QString descenders = QStringLiteral(",\\_|gjqy");
    for (int code = 32; code <= 126; ++code) {
        const QVector<int> rows = rowsOf(mat5x8, code);
        const bool descends = descenders.contains(QChar(code));
        QVERIFY2((rows[7] != 0) == descends, qPrintable(QString(QChar(code))));
        if (!descends)
            QVERIFY2(rows.mid(0, 7) == rowsOf(mat5x7, code), qPrintable(QString(QChar(code))));
    }
}

void TestLCDGlyphs::germanLettersAtTheirLatin1Codes()
{
    // dos5x7 shows the letters also at their Latin-1 codes, with the code page 437 glyphs.
    const int pairs[][2] = {{196, 142}, {214, 153}, {220, 154}, {223, 225},
                            {228, 132}, {246, 148}, {252, 129}};
    std::set<QVector<int>> distinct;
    for (const auto &pair : pairs) {
        QCOMPARE(rowsOf(dos5x7, pair[0]), rowsOf(dos5x7, pair[1]));
        distinct.insert(rowsOf(dos5x7, pair[0]));
        // Hitachi holds the umlauts at their code page 437 codes too.
        if (pair[1] != 225)
            QCOMPARE(rowsOf(Hitachi, pair[1]), rowsOf(dos5x7, pair[1]));
    }
    QCOMPARE(distinct.size(), std::size_t(7));
    // The umlauts differ from their plain letters.
    QVERIFY(rowsOf(dos5x7, 196) != rowsOf(dos5x7, 'A'));
    QVERIFY(rowsOf(dos5x7, 246) != rowsOf(dos5x7, 'o'));
}

void TestLCDGlyphs::hitachi2DrawsLowerCodesFromHitachi()
{
    for (int code = 32; code < 194; ++code) {
        for (int r = 0; r < 10; ++r)
            for (int c = 0; c < 5; ++c)
                QCOMPARE(LCDGlyphs::dotLit(Hitachi2, code, r, c),
                         r < 7 && LCDGlyphs::dotLit(Hitachi, code, r, c));
    }
    // Its own g, p, q, y (199, 208, 209, 217) reach below the seventh row.
    for (int code : {199, 202, 208, 209, 217}) {
        const QVector<int> rows = rowsOf(Hitachi2, code);
        QVERIFY2(rows[7] || rows[8] || rows[9], qPrintable(QString::number(code)));
    }
    QCOMPARE(rowsOf(Hitachi2, 223), QVector<int>(10, 0x1F)); // full block of ten rows
}

void TestLCDGlyphs::codesWithoutGlyph()
{
    for (TDotMatrix m : {mat5x7, mat5x8, mat7x9, mat9x12, Hitachi, Hitachi2}) {
        QVERIFY(!LCDGlyphs::holdsGlyph(m, 31));
        QVERIFY(!lightsAnything(m, 1));
    }
    for (TDotMatrix m : {mat5x7, mat5x8, mat7x9, mat9x12})
        QVERIFY(!LCDGlyphs::holdsGlyph(m, 127));
    QVERIFY(!LCDGlyphs::holdsGlyph(Hitachi, 224));
    QVERIFY(!LCDGlyphs::holdsGlyph(Hitachi2, 224));
    QVERIFY(!LCDGlyphs::dotLit(mat5x7, 'A', 7, 0)); // outside the cell
}

QTEST_GUILESS_MAIN(TestLCDGlyphs)
#include "tst_lcdglyphs.moc"
