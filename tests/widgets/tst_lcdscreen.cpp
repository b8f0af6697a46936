// The dot-matrix display as it appears: pixels of the grabbed widget, its geometry, refusals,
// the moment of redrawing and scrolling.

#include "lcdscreen.h"
#include "widgetpictures.h"

#include <QScreen>
#include <QtTest>

#include <functional>

using Setter = std::function<void(TLCDScreen &)>;
Q_DECLARE_METATYPE(TLCDBorder)
Q_DECLARE_METATYPE(TPixelShape)
Q_DECLARE_METATYPE(TScrollMode)
Q_DECLARE_METATYPE(Setter)

namespace
{

const QRgb kBacklight = qRgb(174, 240, 142);
const QRgb kUnlit = qRgb(226, 226, 226);
const QRgb kLit = qRgb(2, 2, 2);
// The 3D highlight and shadow of the test palette, unlike any default.
const QRgb kHighlight = qRgb(250, 1, 2);
const QRgb kShadow = qRgb(3, 4, 250);

QPalette testPalette()
{
    QPalette palette;
    palette.setColor(QPalette::Light, QColor(kHighlight));
    palette.setColor(QPalette::Dark, QColor(kShadow));
    palette.setColor(QPalette::Button, QColor(10, 20, 30));
    return palette;
}

void applyMainWindowSettings(TLCDScreen &lcd)
{
    lcd.setNoOfLines(1);
    lcd.setNoOfChars(20);
    lcd.setPixelSize(pix2x2);
    lcd.setPixelSpacing(1);
    lcd.setCharSpacing(1);
    lcd.setLineSpacing(1);
    lcd.setBorderSpace(3);
    lcd.setColor(9367726);
    lcd.setPixelOff(14869218);
    lcd.setIntensity(255);
}

// Where the cells and dots of a display lie.
struct Geometry {
    int psx, psy, pixelSpacing, charw, charh, left, top, stepX, stepY;

    explicit Geometry(const TLCDScreen &lcd)
    {
        psx = lcd.PixelWidth();
        psy = lcd.PixelHeight();
        pixelSpacing = lcd.PixelSpacing();
        charw = lcd.FontWidth() * psx + (lcd.FontWidth() - 1) * pixelSpacing;
        charh = lcd.FontHeight() * psy + (lcd.FontHeight() - 1) * pixelSpacing;
        left = top = lcd.BorderSpace() + 1;
        stepX = charw + lcd.CharSpacing();
        stepY = charh + lcd.LineSpacing();
    }
    QPoint dot(int line, int column, int row, int col) const
    {
        return QPoint(left + column * stepX + col * (psx + pixelSpacing),
                      top + line * stepY + row * (psy + pixelSpacing));
    }
};

// The lit dots of one cell, row by row, read from the dots' top-left pixels.
QVector<bool> cellPattern(const QImage &image, const TLCDScreen &lcd, int line, int column)
{
    const Geometry g(lcd);
    QVector<bool> lit;
    for (int r = 0; r < lcd.FontHeight(); ++r)
        for (int c = 0; c < lcd.FontWidth(); ++c)
            lit << (image.pixel(g.dot(line, column, r, c)) == lcd.TrueOnColor());
    return lit;
}

QVector<bool> glyphPattern(TDotMatrix matrix, int code)
{
    QVector<bool> lit;
    for (int r = 0; r < LCDGlyphs::cellHeight(matrix); ++r)
        for (int c = 0; c < LCDGlyphs::cellWidth(matrix); ++c)
            lit << LCDGlyphs::dotLit(matrix, code, r, c);
    return lit;
}

// What the display shows, line by line, found by matching each cell's lit dots against the
// glyphs of its table (printable ASCII first); blank cells read as spaces, unknown ones as '?'.
QStringList shownText(const QImage &image, const TLCDScreen &lcd)
{
    QStringList lines;
    for (int i = 0; i < lcd.NoOfLines(); ++i) {
        QString line;
        for (int j = 0; j < lcd.NoOfChars(); ++j) {
            const QVector<bool> lit = cellPattern(image, lcd, i, j);
            QChar shown = QLatin1Char('?');
            if (!lit.contains(true))
                shown = QLatin1Char(' ');
            for (int code = 32; code < 256 && shown == QLatin1Char('?'); ++code)
                if (glyphPattern(lcd.DotMatrix(), code) == lit)
                    shown = QChar(code);
            line += shown;
        }
        lines << line;
    }
    return lines;
}

QString codes(std::initializer_list<int> units)
{
    QString text;
    for (int unit : units)
        text += QChar(unit);
    return text;
}

} // namespace

class TestLCDScreen : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void newDisplay();
    void mainWindowGeometry();
    void readyLightsExactlyItsGlyphs();
    void frame_data();
    void frame();
    void sizeFromOutsideSnapsToCells_data();
    void sizeFromOutsideSnapsToCells();
    void dotSizeFollowsPixelSize();
    void refusedValuesKeepTheOldOne_data();
    void refusedValuesKeepTheOldOne();
    void settersRedrawAtOnce_data();
    void settersRedrawAtOnce();
    void textIsOnScreenBeforeTheCallerWaits();
    void textShown_data();
    void textShown();
    void codePageAndUnicode();
    void codesWithoutGlyphShowBlank();
    void hitachi2Descenders();
    void scrolling_data();
    void scrolling();
    void scrollTimer();
    void changesDuringScrollingWaitForTheTick();
    void litColour_data();
    void litColour();
    void dotShapes_data();
    void dotShapes();
    void onePixelDots();
    void disabledAndHidden();
    void systemColours();
    void clicks();
    void repaintsMatchAFreshDisplay();

private:
    QWidget *m_host = nullptr;
    TLCDScreen *m_lcd = nullptr;
    QStringList m_refusals;
    std::function<void(QWidget *, const QString &)> m_originalRefusal;
};

void TestLCDScreen::initTestCase()
{
    m_originalRefusal = TLCDScreen::ShowRefusal;
}

void TestLCDScreen::init()
{
    m_refusals.clear();
    TLCDScreen::ShowRefusal = [this](QWidget *, const QString &message) { m_refusals << message; };
    m_host = new QWidget;
    m_host->setPalette(testPalette());
    m_host->resize(640, 200);
    m_lcd = new TLCDScreen(m_host);
    m_lcd->move(5, 6);
    m_host->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_host));
}

void TestLCDScreen::cleanup()
{
    delete m_host;
    m_host = nullptr;
    m_lcd = nullptr;
    TLCDScreen::ShowRefusal = m_originalRefusal;
}

void TestLCDScreen::newDisplay()
{
    TLCDScreen &lcd = *m_lcd;
    QCOMPARE(lcd.size(), QSize(157, 28));
    QCOMPARE(lcd.NoOfChars(), 10);
    QCOMPARE(lcd.NoOfLines(), 1);
    QCOMPARE(lcd.FontWidth(), 5);
    QCOMPARE(lcd.FontHeight(), 7);
    QCOMPARE(lcd.BorderStyle(), bsLowered);
    // The lit colour is not computed until a colour or the intensity changes.
    QCOMPARE(lcd.TrueOnColor(), qRgb(0, 0, 0));

    const QImage image = shot(lcd);
    QCOMPARE(image.pixel(0, 0), kShadow);
    QCOMPARE(image.pixel(156, 27), kHighlight);
    // No text: ten cells of unlit dots on the grey backlight.
    const Geometry g(lcd);
    for (int j = 0; j < 10; ++j) {
        QCOMPARE(image.pixel(g.dot(0, j, 0, 0)), qRgb(170, 170, 170));
        QCOMPARE(image.pixel(g.dot(0, j, 6, 4) + QPoint(1, 1)), qRgb(170, 170, 170));
        QCOMPARE(image.pixel(g.dot(0, j, 0, 0) + QPoint(2, 0)), qRgb(192, 192, 192));
    }
}

void TestLCDScreen::mainWindowGeometry()
{
    TLCDScreen &lcd = *m_lcd;
    applyMainWindowSettings(lcd);
    QCOMPARE(lcd.size(), QSize(307, 28));
    QCOMPARE(lcd.geometry().topLeft(), QPoint(5, 6));
    const QImage image = shot(lcd);
    QCOMPARE(image.pixel(3, 3), kBacklight);
    QCOMPARE(image.pixel(4, 4), kUnlit); // first cell's top-left pixel
    for (int j = 0; j < 20; ++j) {
        const int x = 4 + 15 * j;
        QCOMPARE(image.pixel(x, 4), kUnlit);
        QCOMPARE(image.pixel(x + 13, 4 + 19), kUnlit); // cells are 14 x 20
        QCOMPARE(image.pixel(x + 14, 4), kBacklight);  // and start 15 pixels apart
        QCOMPARE(image.pixel(x, 4 + 20), kBacklight);
    }
}

void TestLCDScreen::readyLightsExactlyItsGlyphs()
{
    TLCDScreen &lcd = *m_lcd;
    applyMainWindowSettings(lcd);
    lcd.setLines({QStringLiteral("READY")});

    // Rows of R, E, A, D, Y, bit 4 the leftmost dot.
    const int glyphs[5][7] = {{0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11},
                              {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F},
                              {0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11},
                              {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C},
                              {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}};
    QImage expected(307, 28, QImage::Format_RGB32);
    expected.fill(kBacklight);
    for (int x = 0; x < 307; ++x) {
        expected.setPixel(x, 27, kHighlight);
        expected.setPixel(x, 0, kShadow);
    }
    for (int y = 0; y < 28; ++y) {
        expected.setPixel(306, y, y == 0 ? kShadow : kHighlight);
        if (y < 27)
            expected.setPixel(0, y, kShadow);
    }
    for (int j = 0; j < 20; ++j)
        for (int r = 0; r < 7; ++r)
            for (int c = 0; c < 5; ++c) {
                const bool lit = j < 5 && (glyphs[j][r] >> (4 - c) & 1);
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx)
                        expected.setPixel(4 + 15 * j + 3 * c + dx, 4 + 3 * r + dy,
                                          lit ? kLit : kUnlit);
            }
    compareImages(shot(lcd), expected);
}

void TestLCDScreen::frame_data()
{
    QTest::addColumn<TLCDBorder>("style");
    QTest::addColumn<QRgb>("first");  // right and bottom edges
    QTest::addColumn<QRgb>("second"); // top and left edges
    const QRgb grey = qRgb(192, 192, 192);
    QTest::newRow("bsLowered") << bsLowered << kHighlight << kShadow;
    QTest::newRow("bsRaised") << bsRaised << kShadow << kHighlight;
    QTest::newRow("bsSingle") << bsSingle << qRgb(200, 10, 30) << qRgb(200, 10, 30);
    // The frame's pixels stay and show the backlight.
    QTest::newRow("bsNone") << bsNone << grey << grey;
}

void TestLCDScreen::frame()
{
    QFETCH(TLCDBorder, style);
    QFETCH(QRgb, first);
    QFETCH(QRgb, second);
    TLCDScreen &lcd = *m_lcd;
    lcd.setBorderColor(RGBToColor(200, 10, 30));
    lcd.setBorderStyle(style);
    QCOMPARE(lcd.size(), QSize(157, 28));
    const QImage image = shot(lcd);
    QCOMPARE(image.pixel(156, 0), second); // top-right corner: second stroke
    QCOMPARE(image.pixel(0, 27), first);   // bottom-left corner: first stroke
    QCOMPARE(image.pixel(0, 0), second);
    QCOMPARE(image.pixel(156, 27), first);
    QCOMPARE(image.pixel(80, 0), second);
    QCOMPARE(image.pixel(0, 14), second);
    QCOMPARE(image.pixel(156, 14), first);
    QCOMPARE(image.pixel(80, 27), first);
    QCOMPARE(image.pixel(1, 1), qRgb(192, 192, 192));
}

void TestLCDScreen::sizeFromOutsideSnapsToCells_data()
{
    QTest::addColumn<QSize>("given");
    QTest::addColumn<QSize>("snapped");
    QTest::addColumn<int>("chars");
    QTest::addColumn<int>("lines");
    QTest::newRow("widened to 400") << QSize(400, 28) << QSize(397, 28) << 26 << 1;
    QTest::newRow("taller") << QSize(307, 60) << QSize(307, 49) << 20 << 2;
    QTest::newRow("too small for one cell") << QSize(5, 5) << QSize(22, 28) << 1 << 1;
    QTest::newRow("unchanged") << QSize(307, 28) << QSize(307, 28) << 20 << 1;
}

void TestLCDScreen::sizeFromOutsideSnapsToCells()
{
    QFETCH(QSize, given);
    QFETCH(QSize, snapped);
    QFETCH(int, chars);
    QFETCH(int, lines);
    TLCDScreen &lcd = *m_lcd;
    applyMainWindowSettings(lcd);
    lcd.setLines({QStringLiteral("READY")});
    lcd.setGeometry(QRect(QPoint(5, 6), given));
    QCOMPARE(lcd.size(), snapped);
    QCOMPARE(int(lcd.NoOfChars()), chars);
    QCOMPARE(int(lcd.NoOfLines()), lines);
    QCOMPARE(shownText(shot(lcd), lcd).first(),
             QStringLiteral("READY").leftJustified(chars).left(chars));
}

void TestLCDScreen::dotSizeFollowsPixelSize()
{
    TLCDScreen &lcd = *m_lcd;
    lcd.setPixelWidth(5); // not under pixCustom: ignored, no message
    QCOMPARE(lcd.PixelWidth(), 2);
    lcd.setPixelSize(pix3x3);
    QCOMPARE(lcd.PixelWidth(), 3);
    QCOMPARE(lcd.PixelHeight(), 3);
    QCOMPARE(lcd.size(), QSize(10 * 19 + 9 + 8, 27 + 8));

    lcd.setPixelSize(pixCustom);
    QCOMPARE(lcd.size(), QSize(10 * 19 + 9 + 8, 27 + 8)); // keeps the last dot size
    lcd.setPixelWidth(4);
    lcd.setPixelHeight(1);
    QCOMPARE(lcd.size(), QSize(10 * 24 + 9 + 8, 13 + 8));
    lcd.setLines({QStringLiteral("HI")});
    QCOMPARE(shownText(shot(lcd), lcd).first(), QStringLiteral("HI        "));
    QVERIFY(m_refusals.isEmpty());
}

void TestLCDScreen::refusedValuesKeepTheOldOne_data()
{
    QTest::addColumn<Setter>("refused");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("kept");
    QTest::newRow("NoOfLines") << Setter([](TLCDScreen &l) { l.setNoOfLines(0); })
                               << "Display needs at least one line!" << 1;
    QTest::newRow("NoOfChars") << Setter([](TLCDScreen &l) { l.setNoOfChars(0); })
                               << "Display needs at least one character!" << 20;
    QTest::newRow("PixelWidth") << Setter([](TLCDScreen &l) {
        l.setPixelSize(pixCustom);
        l.setPixelWidth(0);
    }) << "Display pixel width must be 1 or greater!"
                                << 2;
    QTest::newRow("PixelHeight") << Setter([](TLCDScreen &l) {
        l.setPixelSize(pixCustom);
        l.setPixelHeight(0);
    }) << "Display pixel height must be 1 or greate!"
                                 << 2;
}

void TestLCDScreen::refusedValuesKeepTheOldOne()
{
    QFETCH(Setter, refused);
    QFETCH(QString, message);
    QFETCH(int, kept);
    TLCDScreen &lcd = *m_lcd;
    applyMainWindowSettings(lcd);
    lcd.setLines({QStringLiteral("READY")});
    refused(lcd);
    QCOMPARE(m_refusals, QStringList{message});
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    const int now = name == QLatin1String("NoOfLines")    ? lcd.NoOfLines()
                    : name == QLatin1String("NoOfChars")  ? lcd.NoOfChars()
                    : name == QLatin1String("PixelWidth") ? lcd.PixelWidth()
                                                          : lcd.PixelHeight();
    QCOMPARE(now, kept);
    QCOMPARE(lcd.size(), QSize(307, 28));
    QCOMPARE(shownText(shot(lcd), lcd).first(), QStringLiteral("READY").leftJustified(20));
}

void TestLCDScreen::settersRedrawAtOnce_data()
{
    QTest::addColumn<Setter>("setter");
    QTest::addColumn<bool>("paints");
    const auto row = [](const char *name, Setter s, bool paints) {
        QTest::newRow(name) << s << paints;
    };
    row(
        "Lines", [](TLCDScreen &l) { l.setLines({QStringLiteral("BUSY")}); }, true);
    row(
        "Lines unchanged", [](TLCDScreen &l) { l.setLines(l.Lines()); }, true);
    row(
        "Text", [](TLCDScreen &l) { l.setText(QStringLiteral("BUSY")); }, true);
    row(
        "NoOfLines", [](TLCDScreen &l) { l.setNoOfLines(2); }, true);
    row(
        "NoOfChars", [](TLCDScreen &l) { l.setNoOfChars(12); }, true);
    row(
        "DotMatrix", [](TLCDScreen &l) { l.setDotMatrix(mat7x9); }, true);
    row(
        "PixelSize", [](TLCDScreen &l) { l.setPixelSize(pix3x3); }, true);
    row(
        "PixelShape", [](TLCDScreen &l) { l.setPixelShape(psRound); }, true);
    row(
        "PixelSpacing", [](TLCDScreen &l) { l.setPixelSpacing(2); }, true);
    row(
        "CharSpacing", [](TLCDScreen &l) { l.setCharSpacing(2); }, true);
    row(
        "LineSpacing", [](TLCDScreen &l) { l.setLineSpacing(2); }, true);
    row(
        "BorderSpace", [](TLCDScreen &l) { l.setBorderSpace(4); }, true);
    row(
        "BorderStyle", [](TLCDScreen &l) { l.setBorderStyle(bsRaised); }, true);
    row(
        "BorderColor", [](TLCDScreen &l) { l.setBorderColor(clWhite); }, true);
    row(
        "Color", [](TLCDScreen &l) { l.setColor(clWhite); }, true);
    row(
        "PixelOff", [](TLCDScreen &l) { l.setPixelOff(clWhite); }, true);
    row(
        "PixelOn", [](TLCDScreen &l) { l.setPixelOn(clWhite); }, true);
    row(
        "Intensity", [](TLCDScreen &l) { l.setIntensity(100); }, true);
    row(
        "ScrollMode", [](TLCDScreen &l) { l.setScrollMode(smDependant); }, true);
    row(
        "ScrollActive", [](TLCDScreen &l) { l.setScrollActive(true); }, true);
    row(
        "ScrollSpeed", [](TLCDScreen &l) { l.setScrollSpeed(100); }, false);
    row(
        "ScrollHorz", [](TLCDScreen &l) { l.setScrollHorz(1); }, false);
    row(
        "ScrollVert", [](TLCDScreen &l) { l.setScrollVert(1); }, false);
    row(
        "Color unchanged", [](TLCDScreen &l) { l.setColor(l.Color()); }, false);
    row(
        "NoOfChars unchanged", [](TLCDScreen &l) { l.setNoOfChars(l.NoOfChars()); }, false);
}

void TestLCDScreen::settersRedrawAtOnce()
{
    QFETCH(Setter, setter);
    QFETCH(bool, paints);
    QCoreApplication::processEvents();
    EventCounter counter(m_lcd);
    setter(*m_lcd);
    // No event processing in between: the paint has happened inside the setter.
    QCOMPARE(counter.count > 0, paints);
}

void TestLCDScreen::textIsOnScreenBeforeTheCallerWaits()
{
    TLCDScreen &lcd = *m_lcd;
    applyMainWindowSettings(lcd);
    lcd.setLines({QStringLiteral("POWERED ON")});
    QCoreApplication::processEvents();
    lcd.setLines({QStringLiteral("BUSY")});
    // What the window system holds now, before any event is processed.
    const QImage screen = onScreen(lcd);
    QCOMPARE(screen.size(), lcd.size());
    QCOMPARE(shownText(screen, lcd).first(), QStringLiteral("BUSY").leftJustified(20));
}

void TestLCDScreen::textShown_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("chars");
    QTest::addColumn<QStringList>("text");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("longer than the line")
        << 1 << 4 << QStringList{"ABCDEFG"} << QStringList{"ABCD"};
    QTest::newRow("more lines than the display")
        << 2 << 3 << QStringList{"AB", "CD", "EF"} << QStringList{"AB ", "CD "};
    QTest::newRow("empty and missing lines")
        << 3 << 3 << QStringList{"", "X"} << QStringList{"   ", "X  ", "   "};
    QTest::newRow("code 0 blanks the rest")
        << 1 << 5 << QStringList{QStringLiteral("AB") + QChar(0) + "CD"} << QStringList{"AB   "};
    QTest::newRow("lower case and signs")
        << 1 << 8 << QStringList{"a+b=c?!"} << QStringList{"a+b=c?! "};
}

void TestLCDScreen::textShown()
{
    QFETCH(int, lines);
    QFETCH(int, chars);
    QFETCH(QStringList, text);
    QFETCH(QStringList, shown);
    TLCDScreen &lcd = *m_lcd;
    lcd.setNoOfLines(lines);
    lcd.setNoOfChars(chars);
    lcd.setLines(text);
    QCOMPARE(shownText(shot(lcd), lcd), shown);
}

void TestLCDScreen::codePageAndUnicode()
{
    TLCDScreen &lcd = *m_lcd;
    lcd.setDotMatrix(dos5x7);
    lcd.setPixelOff(RGBToColor(226, 226, 226)); // computes the lit colour
    // A multi-line text through line breaks; a character's glyph is its low 8 bits.
    lcd.setNoOfLines(2);
    lcd.setText(QStringLiteral("\u00C4\u0141\u00DF\r\nx\u00FC"));
    QCOMPARE(lcd.Lines(),
             (QStringList{QStringLiteral("\u00C4\u0141\u00DF"), QStringLiteral("x\u00FC")}));
    const QImage image = shot(lcd);
    QCOMPARE(cellPattern(image, lcd, 0, 0), glyphPattern(dos5x7, 196));
    QCOMPARE(cellPattern(image, lcd, 0, 1), glyphPattern(dos5x7, 'A'));
    QCOMPARE(cellPattern(image, lcd, 0, 2), glyphPattern(dos5x7, 223));
    QCOMPARE(cellPattern(image, lcd, 1, 1), glyphPattern(dos5x7, 252));
    QVERIFY(glyphPattern(dos5x7, 196) != glyphPattern(dos5x7, 'A'));
}

void TestLCDScreen::codesWithoutGlyphShowBlank()
{
    TLCDScreen &lcd = *m_lcd;
    lcd.setPixelOff(RGBToColor(226, 226, 226));
    lcd.setLines({codes({127, 31, 0xE9, 0x1F4, 'A'})});
    QCOMPARE(shownText(shot(lcd), lcd).first(), QStringLiteral("    A     "));
}

void TestLCDScreen::hitachi2Descenders()
{
    TLCDScreen &lcd = *m_lcd;
    lcd.setDotMatrix(Hitachi2);
    lcd.setPixelOff(RGBToColor(226, 226, 226));
    QCOMPARE(lcd.FontHeight(), 10);
    QCOMPARE(lcd.size(), QSize(157, 10 * 2 + 9 + 8));
    // 'g' below 194 comes from the seven-row table; 199 is the ten-row g.
    lcd.setLines({codes({'g', 199})});
    const QImage image = shot(lcd);
    const QVector<bool> small = cellPattern(image, lcd, 0, 0);
    const QVector<bool> tall = cellPattern(image, lcd, 0, 1);
    QVERIFY(!small.mid(35).contains(true));
    QVERIFY(tall.mid(35).contains(true));
    QCOMPARE(tall, glyphPattern(Hitachi2, 199));
}

void TestLCDScreen::scrolling_data()
{
    QTest::addColumn<QStringList>("text");
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("chars");
    QTest::addColumn<int>("horz");
    QTest::addColumn<int>("vert");
    QTest::addColumn<TScrollMode>("mode");
    QTest::addColumn<QList<QStringList>>("ticks");
    QTest::newRow("left") << QStringList{"AB"} << 1 << 4 << -1 << 0 << smIndependant
                          << QList<QStringList>{{"B  A"}, {"  AB"}, {" AB "}, {"AB  "}};
    QTest::newRow("right") << QStringList{"AB"} << 1 << 4 << 1 << 0 << smIndependant
                           << QList<QStringList>{{" AB "}, {"  AB"}, {"B  A"}, {"AB  "}};
    QTest::newRow("up") << QStringList{"L1", "L2", "L3"} << 1 << 4 << 0 << -1 << smIndependant
                        << QList<QStringList>{{"L2  "}, {"L3  "}, {"L1  "}, {"L2  "}};
    QTest::newRow("down") << QStringList{"L1", "L2", "L3"} << 2 << 2 << 0 << 1 << smIndependant
                          << QList<QStringList>{{"L3", "L1"}, {"L2", "L3"}, {"L1", "L2"}};
    QTest::newRow("left two lines independant")
        << QStringList{"A", "ABCDE"} << 2 << 4 << -1 << 0 << smIndependant
        << QList<QStringList>{
               {"   A", "BCDE"}, {"  A ", "CDE "}, {" A  ", "DE A"}, {"A   ", "E AB"}};
    QTest::newRow("left two lines in step")
        << QStringList{"A", "ABCDE"} << 2 << 4 << -1 << 0 << smDependant
        << QList<QStringList>{
               {"    ", "BCDE"}, {"    ", "CDE "}, {"   A", "DE A"}, {"  A ", "E AB"}};
    QTest::newRow("by two, longer than the line")
        << QStringList{"ABCDEF"} << 1 << 4 << -2 << 0 << smIndependant
        << QList<QStringList>{{"CDEF"}, {"EF A"}, {" ABC"}};
    QTest::newRow("by more than the line") << QStringList{"AB"} << 1 << 2 << -9 << 0
                                           << smIndependant << QList<QStringList>{{"AB"}, {"AB"}};
}

void TestLCDScreen::scrolling()
{
    QFETCH(QStringList, text);
    QFETCH(int, lines);
    QFETCH(int, chars);
    QFETCH(int, horz);
    QFETCH(int, vert);
    QFETCH(TScrollMode, mode);
    QFETCH(QList<QStringList>, ticks);
    TLCDScreen &lcd = *m_lcd;
    lcd.setNoOfLines(lines);
    lcd.setNoOfChars(chars);
    lcd.setScrollMode(mode);
    lcd.setScrollSpeed(3600 * 1000); // ticks come from the test, not the timer
    lcd.setScrollHorz(horz);
    lcd.setScrollVert(vert);
    lcd.setLines(text);
    lcd.setScrollActive(true);
    for (int tick = 0; tick < ticks.size(); ++tick) {
        lcd.ScrollStep();
        QVERIFY2(shownText(shot(lcd), lcd) == ticks[tick],
                 qPrintable(QStringLiteral("tick %1: \"%2\"")
                                .arg(tick + 1)
                                .arg(shownText(shot(lcd), lcd).join(QLatin1Char('|')))));
    }
    // A new text starts the scrolling afresh.
    lcd.setLines(text);
    QCOMPARE(shownText(shot(lcd), lcd).first(), text.first().leftJustified(chars).left(chars));
}

void TestLCDScreen::scrollTimer()
{
    TLCDScreen &lcd = *m_lcd;
    const QTimer &timer = lcd.ScrollTimer();
    QVERIFY(!timer.isActive());
    QCOMPARE(timer.interval(), 250);
    lcd.setScrollActive(true);
    QVERIFY(timer.isActive());
    QCOMPARE(timer.interval(), 250);
    lcd.setScrollSpeed(40);
    QVERIFY(timer.isActive());
    QCOMPARE(timer.interval(), 40);
    lcd.setScrollSpeed(0); // no ticks at all, not ticks without pause
    QVERIFY(!timer.isActive());
    lcd.setScrollSpeed(500);
    QVERIFY(timer.isActive());
    lcd.setScrollActive(false);
    QVERIFY(!timer.isActive());
    lcd.setScrollSpeed(300);
    QVERIFY(!timer.isActive());
}

void TestLCDScreen::changesDuringScrollingWaitForTheTick()
{
    TLCDScreen &lcd = *m_lcd;
    applyMainWindowSettings(lcd);
    lcd.setLines({QStringLiteral("READY")});
    lcd.setScrollSpeed(3600 * 1000);
    lcd.setScrollActive(true);
    QCoreApplication::processEvents();

    EventCounter counter(m_lcd);
    lcd.setPixelOn(RGBToColor(0, 0, 200));
    lcd.setIntensity(128);
    QCOMPARE(counter.count, 0);
    QCOMPARE(lcd.TrueOnColor(), qRgb(114, 114, 13)); // 129 * (226 - on) / 256
    QCOMPARE(onScreen(lcd).pixel(4, 4), kLit);
    lcd.ScrollStep(); // ScrollHorz 0: only repaints
    QVERIFY(counter.count > 0);
    QCOMPARE(onScreen(lcd).pixel(4, 4), qRgb(114, 114, 13));
}

void TestLCDScreen::litColour_data()
{
    QTest::addColumn<QRgb>("off");
    QTest::addColumn<QRgb>("on");
    QTest::addColumn<int>("intensity");
    QTest::addColumn<QRgb>("lit");
    QTest::newRow("main window") << kUnlit << qRgb(0, 0, 0) << 255 << kLit;
    QTest::newRow("no contrast") << kUnlit << qRgb(0, 0, 0) << 0 << qRgb(227, 227, 227);
    // 129 * 170 / 256 = 85.66, 129 * 3 / 256 = 1.51
    QTest::newRow("rounding") << qRgb(170, 170, 3) << qRgb(0, 0, 0) << 128 << qRgb(86, 86, 2);
    // 2 * 64 / 256 = 0.5 and -0.5: halves round away from zero; -1 keeps its low 8 bits.
    QTest::newRow("halves") << qRgb(64, 0, 0) << qRgb(0, 64, 0) << 255 << qRgb(1, 255, 0);
    // A base colour brighter than the unlit one wraps: the difference, not the base plus it.
    QTest::newRow("negative") << qRgb(64, 0, 170) << qRgb(0, 64, 255) << 1 << qRgb(64, 192, 171);
}

void TestLCDScreen::litColour()
{
    QFETCH(QRgb, off);
    QFETCH(QRgb, on);
    QFETCH(int, intensity);
    QFETCH(QRgb, lit);
    TLCDScreen &lcd = *m_lcd;
    lcd.setIntensity(intensity);
    lcd.setPixelOn(RGBToColor(qRed(on), qGreen(on), qBlue(on)));
    lcd.setPixelOff(RGBToColor(qRed(off), qGreen(off), qBlue(off)));
    QCOMPARE(lcd.TrueOnColor(), lit);
    lcd.setLines({QStringLiteral("I")});
    QCOMPARE(shot(lcd).pixel(Geometry(lcd).dot(0, 0, 0, 1)), lit);
}

void TestLCDScreen::dotShapes_data()
{
    QTest::addColumn<TPixelShape>("shape");
    QTest::addColumn<bool>("unlitRound");
    QTest::addColumn<bool>("litRound");
    QTest::newRow("psSquare") << psSquare << false << false;
    QTest::newRow("psShaped") << psShaped << false << true;
    QTest::newRow("psRound") << psRound << true << true;
}

void TestLCDScreen::dotShapes()
{
    QFETCH(TPixelShape, shape);
    QFETCH(bool, unlitRound);
    QFETCH(bool, litRound);
    TLCDScreen &lcd = *m_lcd;
    applyMainWindowSettings(lcd);
    lcd.setPixelSize(pix4x4);
    lcd.setPixelShape(shape);
    lcd.setLines({QStringLiteral("I")}); // lights the top row's middle dots
    const QImage image = shot(lcd);
    const Geometry g(lcd);
    const QPoint lit = g.dot(0, 0, 0, 1);
    const QPoint unlit = g.dot(0, 0, 1, 0);
    // A round 4 x 4 dot leaves its corners to what lies below it.
    QCOMPARE(image.pixel(lit + QPoint(1, 1)), kLit);
    QCOMPARE(image.pixel(lit + QPoint(3, 0)), litRound ? (unlitRound ? kBacklight : kUnlit) : kLit);
    QCOMPARE(image.pixel(unlit + QPoint(2, 2)), kUnlit);
    QCOMPARE(image.pixel(unlit + QPoint(0, 3)), unlitRound ? kBacklight : kUnlit);
    QCOMPARE(image.pixel(unlit + QPoint(4, 0)), kBacklight); // the dots' 4 pixels end there
}

void TestLCDScreen::onePixelDots()
{
    TLCDScreen &lcd = *m_lcd;
    applyMainWindowSettings(lcd);
    lcd.setPixelSize(pix1x1);
    QCOMPARE(lcd.size(), QSize(20 * 9 + 19 + 8, 13 + 8));
    lcd.setLines({QStringLiteral("T")});
    const QImage image = shot(lcd);
    for (int c = 0; c < 5; ++c)
        QCOMPARE(image.pixel(4 + 2 * c, 4), kLit); // T's top row
    QCOMPARE(image.pixel(5, 4), kBacklight);
    QCOMPARE(image.pixel(4, 6), kUnlit);
    QCOMPARE(image.pixel(8, 6), kLit); // T's stem
}

void TestLCDScreen::disabledAndHidden()
{
    TLCDScreen &lcd = *m_lcd;
    applyMainWindowSettings(lcd);
    lcd.setLines({QStringLiteral("READY")});
    lcd.setEnabled(false);
    QImage image = shot(lcd);
    QCOMPARE(image.pixel(0, 0), kShadow);
    QCOMPARE(image.pixel(306, 27), kHighlight);
    for (int y = 1; y < 27; ++y)
        for (int x = 1; x < 306; ++x)
            QCOMPARE(image.pixel(x, y), kBacklight);
    lcd.setEnabled(true);
    QCOMPARE(shownText(shot(lcd), lcd).first(), QStringLiteral("READY").leftJustified(20));

    lcd.hide();
    EventCounter counter(m_lcd);
    lcd.setLines({QStringLiteral("BUSY")});
    lcd.setNoOfChars(6);
    QCOMPARE(counter.count, 0);
    // Hidden, it still keeps its size and grid current.
    QCOMPARE(lcd.width(), 6 * 14 + 5 + 8);
    QCOMPARE(lcd.DisplayLines().at(0), (std::vector<uint16_t>{'B', 'U', 'S', 'Y', ' ', ' '}));
}

void TestLCDScreen::systemColours()
{
    TLCDScreen &lcd = *m_lcd;
    lcd.setColor(clBtnFace);
    lcd.setPixelOff(clBtnHighlight);
    const QImage image = shot(lcd);
    QCOMPARE(image.pixel(2, 2), qRgb(10, 20, 30));
    QCOMPARE(image.pixel(4, 4), kHighlight);
    QCOMPARE(lcd.TrueOnColor(), qRgb(2, 0, 0)); // 2 * (250, 1, 2) / 256
}

void TestLCDScreen::clicks()
{
    QSignalSpy clicked(m_lcd, &TLCDScreen::OnClick);
    QSignalSpy doubleClicked(m_lcd, &TLCDScreen::OnDblClick);
    QTest::mouseClick(m_lcd, Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(clicked.count(), 1);
    QTest::mouseDClick(m_lcd, Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(doubleClicked.count(), 1);
}

// A display keeps the picture it composed and redraws only the cells whose glyph changed: after
// every kind of change, what is on screen equals what a new display with the same settings
// paints.
void TestLCDScreen::repaintsMatchAFreshDisplay()
{
    using Step = std::function<void(TLCDScreen &)>;
    const QList<QPair<const char *, Step>> steps{
        {"main window", [](TLCDScreen &l) { applyMainWindowSettings(l); }},
        {"powered on", [](TLCDScreen &l) { l.setLines({QStringLiteral("POWERED ON")}); }},
        {"ready", [](TLCDScreen &l) { l.setLines({QStringLiteral("READY")}); }},
        {"ready again", [](TLCDScreen &l) { l.setLines({QStringLiteral("READY")}); }},
        {"fault", [](TLCDScreen &l) { l.setLines({QStringLiteral("Y MOTOR EMBOSS ERROR")}); }},
        {"disabled", [](TLCDScreen &l) { l.setEnabled(false); }},
        {"text while disabled", [](TLCDScreen &l) { l.setLines({QStringLiteral("BUSY")}); }},
        {"enabled", [](TLCDScreen &l) { l.setEnabled(true); }},
        {"intensity", [](TLCDScreen &l) { l.setIntensity(120); }},
        {"backlight", [](TLCDScreen &l) { l.setColor(RGBToColor(10, 200, 250)); }},
        {"raised frame", [](TLCDScreen &l) { l.setBorderStyle(bsRaised); }},
        {"larger matrix", [](TLCDScreen &l) { l.setDotMatrix(mat7x9); }},
        {"round dots", [](TLCDScreen &l) { l.setPixelShape(psRound); }},
        {"two lines", [](TLCDScreen &l) { l.setNoOfLines(2); }},
        {"two texts",
         [](TLCDScreen &l) {
             l.setLines({QStringLiteral("PAUSE"), QStringLiteral("IN RESET")});
         }},
        {"wider spacing", [](TLCDScreen &l) { l.setCharSpacing(4); }},
        {"one blank cell",
         [](TLCDScreen &l) {
             l.setLines({QStringLiteral("PAUSE"), QStringLiteral("IN R SET")});
         }},
    };
    TLCDScreen &lcd = *m_lcd;
    for (qsizetype n = 0; n < steps.size(); ++n) {
        steps[n].second(lcd);
        QCoreApplication::processEvents();

        QWidget freshHost;
        freshHost.setPalette(testPalette());
        freshHost.resize(m_host->size());
        auto *fresh = new TLCDScreen(&freshHost);
        fresh->move(lcd.pos());
        for (qsizetype i = 0; i <= n; ++i)
            steps[i].second(*fresh);
        freshHost.show();
        QVERIFY(QTest::qWaitForWindowExposed(&freshHost));
        QVERIFY2(onScreen(lcd) == shot(*fresh), steps[n].first);
    }
}

QTEST_MAIN(TestLCDScreen)
#include "tst_lcdscreen.moc"
