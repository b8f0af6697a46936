// The card view as pixels: its size and rounded outline, the stretched background, the glyph
// layer and when it is erased, cell-height fonts and turned text.

#include "cardpanel.h"
#include "cardunits.h"
#include "pixels.h"
#include "vorlakerror.h"
#include "widgetpictures.h"

#include <QFileDialog>
#include <QFontInfo>
#include <QLineEdit>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace
{
const QColor kWorkSpace(0x57, 0x57, 0x57);
const QColor kGrey(0x80, 0x80, 0x80);

// The card on a dark work space, as the main window places it.
struct Stage {
    Stage()
    {
        frame.setAutoFillBackground(true);
        QPalette p = frame.palette();
        p.setColor(QPalette::Window, kWorkSpace);
        frame.setPalette(p);
        frame.resize(640, 480);
        card = new CardPanel(&frame);
        card->move(10, 11);
        frame.show();
        (void)QTest::qWaitForWindowExposed(&frame);
    }
    // What the operator sees of the card, corners included.
    QImage seen() { return frame.grab(QRect(card->pos(), card->size())).toImage(); }

    QWidget frame;
    CardPanel *card = nullptr;
};

QString writePicture(const QTemporaryDir &dir, const QString &name, const QImage &image)
{
    const QString path = dir.filePath(name);
    image.save(path);
    return path;
}

QImage quadrants()
{
    QImage image(20, 20, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(0, 0, 10, 10, Qt::red);
    p.fillRect(10, 0, 10, 10, Qt::green);
    p.fillRect(0, 10, 10, 10, Qt::blue);
    p.fillRect(10, 10, 10, 10, Qt::yellow);
    return image;
}
} // namespace

class TestCardPanel : public QObject
{
    Q_OBJECT
private slots:
    void designSizeWithRoundedCorners();
    void roundRectRegion_data();
    void roundRectRegion();
    void cardSizeFromFormat_data();
    void cardSizeFromFormat();
    void outlineClipsGlyphsAndBackground();
    void builtInBackground();
    void backgroundIsStretched();
    void backgroundIsStretchedOverAHugeCard();
    void unreadablePictureKeepsOldOne();
    void pictureDialog();
    void explicitRepaintsEraseGlyphsExposesDoNot();
    void cellHeightFonts();
    void rotatedText_data();
    void rotatedText();
    void noteInTheFrameworkFont();
    void glyphsAreWhatDrawTextGives_data();
    void glyphsAreWhatDrawTextGives();
    void strikesPaintedOneByOneShowWhatAFullPaintShows_data();
    void strikesPaintedOneByOneShowWhatAFullPaintShows();
};

void TestCardPanel::designSizeWithRoundedCorners()
{
    Stage stage;
    QCOMPARE(stage.card->size(), QSize(500, 318));
    const QRegion mask = stage.card->mask();
    for (const QPoint &p : {QPoint(0, 0), QPoint(499, 0), QPoint(0, 317), QPoint(499, 317),
                            QPoint(5, 5), QPoint(15, 0)})
        QVERIFY2(!mask.contains(p), qPrintable(QStringLiteral("%1,%2").arg(p.x()).arg(p.y())));
    for (const QPoint &p : {QPoint(16, 0), QPoint(483, 0), QPoint(250, 0), QPoint(0, 159),
                            QPoint(499, 159), QPoint(250, 317), QPoint(6, 6), QPoint(250, 159)})
        QVERIFY2(mask.contains(p), qPrintable(QStringLiteral("%1,%2").arg(p.x()).arg(p.y())));
}

void TestCardPanel::roundRectRegion_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("design") << QSize(500, 318);
    QTest::newRow("card") << QSize(485, 306);
    QTest::newRow("narrower than the corners") << QSize(30, 100);
    QTest::newRow("one pixel high") << QSize(100, 1);
}

// Whatever the size: symmetric, the straight edges complete, the corners cut.
void TestCardPanel::roundRectRegion()
{
    QFETCH(QSize, size);
    const QRegion region = RoundRectRegion(QRect(QPoint(0, 0), size), 40, 40);
    const int w = size.width();
    const int h = size.height();
    QVERIFY(QRect(0, 0, w, h).contains(region.boundingRect()));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool in = region.contains(QPoint(x, y));
            QCOMPARE(region.contains(QPoint(w - 1 - x, y)), in);
            QCOMPARE(region.contains(QPoint(x, h - 1 - y)), in);
        }
    QVERIFY(region.contains(QPoint(w / 2, 0)));
    if (h > 1) {
        QVERIFY(region.contains(QPoint(0, h / 2)));
        QVERIFY(!region.contains(QPoint(0, 0)));
    }
    QVERIFY(RoundRectRegion(QRect(0, 0, 0, 10), 40, 40).isEmpty());
}

void TestCardPanel::cardSizeFromFormat_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QSize>("pixels");
    QTest::newRow("85.6 x 54.0 mm") << 856 << 540 << QSize(485, 306);
    QTest::newRow("no width") << 0 << 540 << QSize(0, 306);
    QTest::newRow("negative") << -20 << 100 << QSize(0, 57);
    QTest::newRow("larger than the window") << 9999 << 9999 << QSize(5669, 5669);
}

void TestCardPanel::cardSizeFromFormat()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QSize, pixels);
    Stage stage;
    stage.card->setTextFont(QStringLiteral("Courier New"), true, kGrey, 28);
    stage.card->TextOut(100, 100, QStringLiteral("X"));
    stage.card->SetCardSize(width, height);
    QCOMPARE(stage.card->size(), pixels);
    QCOMPARE(stage.card->pos(), QPoint(10, 11));
    QCOMPARE(stage.card->PaintBox->geometry(), stage.card->rect());
    QVERIFY(!hasInk(stage.card->glyphLayer()));
    if (pixels.width() > 40 && pixels.height() > 40) {
        const QRegion mask = stage.card->mask();
        QVERIFY(!mask.contains(QPoint(pixels.width() - 1, pixels.height() - 1)));
        QVERIFY(mask.contains(QPoint(pixels.width() / 2, pixels.height() - 1)));
        // The layer covers the card up to its bounds, however large the card.
        QVERIFY(stage.card->glyphLayer().width() <= CardPanel::kMaxLayerWidth);
        QVERIFY(stage.card->glyphLayer().height() <= CardPanel::kMaxLayerHeight);
    }
    // Drawing on a card of any size is safe.
    stage.card->TextOut(-50, 3000, QStringLiteral("X"));
    stage.card->DrawRotatedText(QStringLiteral("X"), 5000, 180, -10);
}

void TestCardPanel::outlineClipsGlyphsAndBackground()
{
    Stage stage;
    stage.card->SetCardSize(856, 540);
    // The new size repaints the card at the next paint, which would erase what is drawn before.
    stage.card->repaintNow();
    stage.card->setTextFont(QStringLiteral("Courier New"), true, kGrey, 80);
    // A glyph across the top-left corner.
    stage.card->TextOut(-6, -16, QStringLiteral("#"));
    const QImage seen = stage.seen();
    const QImage &layer = stage.card->glyphLayer();
    const QRegion mask = stage.card->mask();
    int clipped = 0;
    int shown = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            const bool ink = qAlpha(layer.pixel(x, y)) == 255;
            if (!mask.contains(QPoint(x, y))) {
                QCOMPARE(QColor(seen.pixel(x, y)), kWorkSpace);
                clipped += ink;
            } else if (ink) {
                QCOMPARE(QColor(seen.pixel(x, y)), kGrey);
                ++shown;
            }
        }
    QVERIFY2(clipped > 0 && shown > 0, qPrintable(QStringLiteral("%1 %2").arg(clipped).arg(shown)));
    QCOMPARE(QColor(seen.pixel(484, 305)), kWorkSpace);
}

void TestCardPanel::builtInBackground()
{
    Stage stage;
    const QImage &image = stage.card->Image();
    QCOMPARE(image.size(), QSize(600, 400));
    // Metal grey: no colour of its own.
    const QColor middle = image.pixelColor(300, 200);
    QVERIFY(std::abs(middle.red() - middle.blue()) < 12 && middle.green() > 100);
}

void TestCardPanel::backgroundIsStretched()
{
    QTemporaryDir dir;
    Stage stage;
    stage.card->loadBackground(writePicture(dir, QStringLiteral("q.png"), quadrants()));
    stage.card->SetCardSize(856, 540);
    const QImage seen = stage.seen();
    QCOMPARE(QColor(seen.pixel(121, 76)), QColor(Qt::red));
    QCOMPARE(QColor(seen.pixel(363, 76)), QColor(Qt::green));
    QCOMPARE(QColor(seen.pixel(121, 229)), QColor(Qt::blue));
    QCOMPARE(QColor(seen.pixel(363, 229)), QColor(Qt::yellow));
}

// A card larger than any screen is stretched at each paint instead of being kept stretched.
void TestCardPanel::backgroundIsStretchedOverAHugeCard()
{
    QTemporaryDir dir;
    Stage stage;
    stage.card->loadBackground(writePicture(dir, QStringLiteral("q.png"), quadrants()));
    stage.card->SetCardSize(9999, 9999);
    QVERIFY(stage.card->width() > CardPanel::kMaxLayerWidth);
    const QImage seen = stage.frame.grab(QRect(stage.card->pos(), QSize(300, 300))).toImage();
    QCOMPARE(QColor(seen.pixel(150, 150)), QColor(Qt::red));
    stage.card->SetCardSize(856, 540);
    QCOMPARE(QColor(stage.seen().pixel(363, 229)), QColor(Qt::yellow));
}

void TestCardPanel::unreadablePictureKeepsOldOne()
{
    QTemporaryDir dir;
    Stage stage;
    const QImage before = stage.card->Image();
    QFile text(dir.filePath(QStringLiteral("notes.png")));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not a picture");
    text.close();
    for (const QString &path : {text.fileName(), dir.filePath(QStringLiteral("missing.jpg"))}) {
        try {
            stage.card->loadBackground(path);
            QFAIL("no error");
        } catch (const VorlakError &error) {
            QVERIFY2(error.message().endsWith(QStringLiteral("(%1)").arg(path)),
                     qPrintable(error.message()));
            QVERIFY(error.message().size() > path.size() + 5);
        }
        QCOMPARE(stage.card->Image(), before);
    }
}

void TestCardPanel::pictureDialog()
{
    QTemporaryDir dir;
    const QString good = writePicture(dir, QStringLiteral("q.bmp"), quadrants());
    const QString bad = dir.filePath(QStringLiteral("bad.jpg"));
    QFile(bad).open(QIODevice::WriteOnly);
    Stage stage;
    auto answer = [&](const QString &file) {
        QTimer::singleShot(0, [&stage, file] {
            QFileDialog *dialog = stage.card->OpenPictureDialog;
            if (file.isEmpty()) {
                dialog->reject();
            } else {
                // Typed in, as an operator would.
                auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
                QVERIFY(edit);
                edit->setText(file);
                static_cast<QDialog *>(dialog)->accept();
            }
        });
    };
    auto strike = [&] {
        stage.card->setTextFont(QStringLiteral("Courier New"), true, kGrey, 28);
        stage.card->TextOut(100, 100, QStringLiteral("X"));
    };

    strike();
    answer(good);
    stage.card->acBackGroundExecute();
    QCOMPARE(stage.card->Image().pixelColor(15, 15), QColor(Qt::yellow));
    QVERIFY(stage.card->OpenPictureDialog->nameFilters().first().contains(QStringLiteral("*.jpg")));
    QTRY_VERIFY(!hasInk(stage.card->glyphLayer()));

    // Cancel keeps the picture, but the card is repainted all the same.
    strike();
    answer(QString());
    stage.card->acBackGroundExecute();
    QCOMPARE(stage.card->Image().pixelColor(15, 15), QColor(Qt::yellow));
    QTRY_VERIFY(!hasInk(stage.card->glyphLayer()));

    // A file that is no picture: the loader's error, the old picture, no repaint.
    strike();
    answer(bad);
    bool failed = false;
    try {
        stage.card->acBackGroundExecute();
    } catch (const VorlakError &) {
        failed = true;
    }
    QVERIFY(failed);
    QCOMPARE(stage.card->Image().pixelColor(15, 15), QColor(Qt::yellow));
    QTest::qWait(20);
    QVERIFY(hasInk(stage.card->glyphLayer()));
}

void TestCardPanel::explicitRepaintsEraseGlyphsExposesDoNot()
{
    Stage stage;
    CardPanel &card = *stage.card;
    card.setTextFont(QStringLiteral("Courier New"), true, kGrey, 28);
    card.TextOut(100, 100, QStringLiteral("X"));
    const QRect glyph = inkBounds(card.glyphLayer());
    auto showsGlyph = [&] {
        const QImage seen = stage.seen();
        for (int y = glyph.top(); y <= glyph.bottom(); ++y)
            for (int x = glyph.left(); x <= glyph.right(); ++x)
                if (QColor(seen.pixel(x, y)) == kGrey)
                    return true;
        return false;
    };
    QVERIFY(showsGlyph());

    // The window system repaints (covered, restored): the card keeps its glyphs.
    card.PaintBox->update();
    stage.frame.hide();
    stage.frame.show();
    (void)QTest::qWaitForWindowExposed(&stage.frame);
    QTest::qWait(10);
    QVERIFY(hasInk(card.glyphLayer()));
    QVERIFY(showsGlyph());

    // Reset and Clear invalidate: the next paint erases, also what was drawn meanwhile.
    card.invalidateCard();
    card.TextOut(200, 100, QStringLiteral("Y"));
    QTRY_VERIFY(!hasInk(card.glyphLayer()));

    // A new message repaints at once.
    card.TextOut(100, 100, QStringLiteral("X"));
    card.repaintNow();
    QVERIFY(!hasInk(card.glyphLayer()));
    card.TextOut(100, 100, QStringLiteral("X"));
    QTest::qWait(10);
    QVERIFY(hasInk(card.glyphLayer()));
}

void TestCardPanel::cellHeightFonts()
{
    Stage stage;
    CardPanel &card = *stage.card;
    for (int mm = 1; mm <= 99; ++mm) {
        const int height = FontHeightPixels(mm, card.ppi(), 1.5);
        card.repaintNow();
        card.setTextFont(QStringLiteral("Courier New"), true, kGrey, height);
        QCOMPARE(card.TextHeight(QStringLiteral("Hg")), height);
        // Ascenders and descenders stay inside the cell.
        card.TextOut(0, 0, QStringLiteral("Hg|"));
        const QRect ink = inkBounds(card.glyphLayer());
        QVERIFY2(ink.top() >= 0 && ink.bottom() < height,
                 qPrintable(QStringLiteral("%1 mm: ink %2..%3, cell %4")
                                .arg(mm)
                                .arg(ink.top())
                                .arg(ink.bottom())
                                .arg(height)));
    }
    const QFontInfo info(card.textFont().font);
    QVERIFY(info.fixedPitch());
    QVERIFY(info.bold());
}

void TestCardPanel::rotatedText_data()
{
    QTest::addColumn<int>("angle");
    QTest::addColumn<QRect>("area"); // where the turned cell lies, relative to (x, y)
    // "T" is about 17 pixels wide at 28 pixels high.
    QTest::newRow("180: the cell ends at (x, y)") << 180 << QRect(-20, -28, 20, 28);
    QTest::newRow("90 counter-clockwise: the text runs upwards") << 90 << QRect(0, -20, 28, 20);
    QTest::newRow("0") << 0 << QRect(0, 0, 20, 28);
}

void TestCardPanel::rotatedText()
{
    QFETCH(int, angle);
    QFETCH(QRect, area);
    Stage stage;
    CardPanel &card = *stage.card;
    card.setTextFont(QStringLiteral("Courier New"), true, kGrey, 28);
    card.DrawRotatedText(QStringLiteral("T"), 200, angle, 150);
    const QRect ink = inkBounds(card.glyphLayer());
    const QRect allowed = area.translated(200, 150);
    QVERIFY2(allowed.contains(ink), qPrintable(QStringLiteral("ink %1,%2 %3x%4")
                                                   .arg(ink.x())
                                                   .arg(ink.y())
                                                   .arg(ink.width())
                                                   .arg(ink.height())));
    QCOMPARE(card.textColour(), kGrey);
    QCOMPARE(card.TextHeight(QString()), 28); // the font is given back as it was
    if (angle == 180) {
        // Standing on its head: the bar of the T is its lowest part.
        const QImage &layer = card.glyphLayer();
        int widest = ink.top();
        int widestCount = 0;
        for (int y = ink.top(); y <= ink.bottom(); ++y) {
            int n = 0;
            for (int x = ink.left(); x <= ink.right(); ++x)
                n += qAlpha(layer.pixel(x, y)) > 128;
            if (n > widestCount) {
                widest = y;
                widestCount = n;
            }
        }
        QVERIFY(widest > ink.center().y());
    }
}

void TestCardPanel::noteInTheFrameworkFont()
{
    Stage stage;
    CardPanel &card = *stage.card;
    QCOMPARE(card.textFont().font, card.font());
    card.TextOut(20, 20, QStringLiteral("Keine Formatdaten"));
    const QRect ink = inkBounds(card.glyphLayer());
    const QFontMetrics metrics(card.font());
    QVERIFY(ink.left() >= 20 && ink.left() <= 22);
    QVERIFY(ink.top() >= 20 && ink.bottom() < 20 + metrics.height());
    QVERIFY(ink.width() > metrics.horizontalAdvance(QStringLiteral("Keine")));
    // In the framework's colour, black, until a job sets the glyph colour.
    QCOMPARE(card.textColour(), QColor(Qt::black));
}

void TestCardPanel::glyphsAreWhatDrawTextGives_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("angle");
    QTest::newRow("letter") << "W" << 28 << 0;
    QTest::newRow("small digit") << "7" << 11 << 0;
    QTest::newRow("large sign") << "&" << 61 << 0;
    QTest::newRow("turned") << "R" << 28 << 180;
    QTest::newRow("several characters") << "Ag 1" << 20 << 0;
}

// Glyphs are shaped once per font and drawn from that again: every strike, the first and the
// later ones, in every font the card had, gives the pixels QPainter::drawText gives.
void TestCardPanel::glyphsAreWhatDrawTextGives()
{
    QFETCH(QString, text);
    QFETCH(int, height);
    QFETCH(int, angle);
    Stage stage;
    CardPanel &card = *stage.card;
    QImage expected = card.glyphLayer();
    const auto strike = [&](int x, int y) {
        card.DrawRotatedText(text, x, angle, y);
        QPainter painter(&expected);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setFont(card.textFont().font);
        painter.setPen(card.textColour());
        painter.translate(x, y);
        painter.rotate(-angle);
        painter.drawText(QPointF(0, card.textFont().ascent), text);
    };
    card.setTextFont(QStringLiteral("Courier New"), true, kGrey, height);
    strike(100, 100);
    strike(101, 101); // as a job strikes: the same glyph again, one pixel down and right
    card.setTextHeight(height + 9);
    strike(200, 150);
    card.setTextHeight(height);
    strike(300, 200);
    card.setTextFont(QStringLiteral("Courier New"), false, Qt::white, height);
    strike(100, 250);
    QCOMPARE(card.glyphLayer(), expected);
}

void TestCardPanel::strikesPaintedOneByOneShowWhatAFullPaintShows_data()
{
    QTest::addColumn<bool>("ownPicture");
    QTest::addColumn<QSize>("cardSize"); // 0.1 mm; empty: the design size
    QTest::newRow("built-in background") << false << QSize();
    QTest::newRow("built-in background, card size from a format") << false << QSize(856, 540);
    QTest::newRow("loaded picture with transparency") << true << QSize(700, 450);
}

// Each strike repaints only the area of its glyph, over the stretched background: what the
// window holds after many of them is what painting the card afresh gives.
void TestCardPanel::strikesPaintedOneByOneShowWhatAFullPaintShows()
{
    QFETCH(bool, ownPicture);
    QFETCH(QSize, cardSize);
    QTemporaryDir dir;
    Stage stage;
    CardPanel &card = *stage.card;
    if (ownPicture) {
        QImage picture(37, 23, QImage::Format_ARGB32);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y, qRgba(x * 7, y * 11, (x * y) % 256, (x + y) * 4));
        card.loadBackground(writePicture(dir, QStringLiteral("a.png"), picture));
    }
    if (!cardSize.isEmpty())
        card.SetCardSize(cardSize.width(), cardSize.height());
    card.invalidateCard();
    QTest::qWait(20);
    card.setTextFont(QStringLiteral("Courier New"), true, kGrey, 24);
    for (int i = 0; i < 30; ++i) {
        const QString glyph(QChar(u'A' + i % 26));
        const int x = 7 + (i * 37) % (card.width() - 30);
        const int y = 5 + (i * 23) % (card.height() - 30);
        card.setTextColour(Qt::white);
        card.TextOut(x, y, glyph);
        card.setTextColour(kGrey);
        card.TextOut(x + 1, y + 1, glyph);
        QCoreApplication::processEvents();
    }
    QTest::qWait(20);
    const QImage shown = onScreen(card);
    card.PaintBox->repaint();
    compareImages(shown, onScreen(card));
}

QTEST_MAIN(TestCardPanel)
#include "tst_cardpanel.moc"
