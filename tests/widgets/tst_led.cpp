// The LED indicator: its seven looks pixel by pixel against the lamp pattern, its fixed size,
// its notifications and the picture strip all LEDs share.

#include "led.h"
#include "widgetpictures.h"

#include <QtTest>

Q_DECLARE_METATYPE(TLEDColor)

namespace
{

// One cell: - transparent, G grey, K black, W white, B the lamp's body, H its glint.
const char *const kPattern[13] = {
    "----GGGG----", "--GGKKKKGG--", "-G-KBBBBK-G-", "-GKBBHHBBKW-", "GKBBHBBBBBGW",
    "GKBHBBBBBBGW", "GKBHBBBBBBGW", "GKBBBBBBBBGW", "GKBBBBBBBBGW", "-GKBBBBBBGW-",
    "-G-GBBBBG-W-", "--WWGGGGWW--", "----WWWW----",
};

const QRgb kParent = qRgb(17, 34, 51);

// The picture of a look; body or glint of the parent's colour for the transparent ones.
QImage expectedLook(QRgb body, QRgb glint, QRgb parent)
{
    QImage image(12, 13, QImage::Format_RGB32);
    for (int y = 0; y < 13; ++y) {
        for (int x = 0; x < 12; ++x) {
            QRgb color = parent;
            switch (kPattern[y][x]) {
            case 'G':
                color = qRgb(128, 128, 128);
                break;
            case 'K':
                color = qRgb(0, 0, 0);
                break;
            case 'W':
                color = qRgb(255, 255, 255);
                break;
            case 'B':
                color = body;
                break;
            case 'H':
                color = glint;
                break;
            }
            image.setPixel(x, y, color);
        }
    }
    return image;
}

} // namespace

class TestLED : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void pictureStrip();
    void looks_data();
    void looks();
    void parentColourShowsThrough();
    void fixedSize();
    void notifications();
    void drawsAtOnce();
    void stripSharedAndLoadedAgain();
    void clicks();

private:
    QWidget *m_host = nullptr;
    TLED *m_led = nullptr;
};

void TestLED::init()
{
    m_host = new QWidget;
    QPalette palette = m_host->palette();
    palette.setColor(QPalette::Window, QColor(kParent));
    m_host->setPalette(palette);
    m_host->resize(200, 100);
    m_led = new TLED(m_host);
    m_led->move(20, 10);
    m_host->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_host));
}

void TestLED::cleanup()
{
    delete m_host;
    m_host = nullptr;
    m_led = nullptr;
    QCOMPARE(TLEDBitmap::Shared(), nullptr);
}

void TestLED::pictureStrip()
{
    const QImage strip(QStringLiteral(":/ledstrip.png"));
    QCOMPARE(strip.size(), QSize(24, 52));
    QCOMPARE(strip.format(), QImage::Format_Indexed8);
    QVERIFY(strip.colorCount() <= 16);
    QCOMPARE(strip.pixel(0, 51), qRgb(0, 128, 128));
    QCOMPARE(TLEDBitmap::Shared()->Trans_Color, qRgb(0, 128, 128));
    // Column 1 of row 0 is the lit red lamp.
    compareImages(strip.copy(12, 0, 12, 13).convertToFormat(QImage::Format_RGB32),
                  expectedLook(qRgb(255, 0, 0), qRgb(255, 255, 255), qRgb(0, 128, 128)));
}

void TestLED::looks_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("lit");
    QTest::addColumn<TLEDColor>("color");
    QTest::addColumn<QRgb>("body");
    QTest::addColumn<QRgb>("glint");
    const QRgb white = qRgb(255, 255, 255);
    QTest::newRow("red unlit") << true << false << lcRed << qRgb(128, 0, 0) << qRgb(255, 0, 0);
    QTest::newRow("red lit") << true << true << lcRed << qRgb(255, 0, 0) << white;
    QTest::newRow("green unlit") << true << false << lcGreen << qRgb(0, 128, 0) << qRgb(0, 255, 0);
    QTest::newRow("green lit") << true << true << lcGreen << qRgb(0, 255, 0) << white;
    QTest::newRow("yellow unlit") << true << false << lcYellow << qRgb(128, 128, 0)
                                  << qRgb(255, 255, 0);
    QTest::newRow("yellow lit") << true << true << lcYellow << qRgb(255, 255, 0) << white;
    // Disabled: the hollow ring with its glint, the parent's colour inside, whatever the state.
    QTest::newRow("disabled") << false << false << lcRed << kParent << white;
    QTest::newRow("disabled lit green") << false << true << lcGreen << kParent << white;
}

void TestLED::looks()
{
    QFETCH(bool, enabled);
    QFETCH(bool, lit);
    QFETCH(TLEDColor, color);
    QFETCH(QRgb, body);
    QFETCH(QRgb, glint);
    m_led->setColor(color);
    m_led->setLit(lit);
    m_led->setEnabled(enabled);
    compareImages(shot(*m_led), expectedLook(body, glint, kParent));
}

void TestLED::parentColourShowsThrough()
{
    m_led->setEnabled(false);
    QPalette palette = m_host->palette();
    palette.setColor(QPalette::Window, QColor(200, 100, 50));
    m_host->setPalette(palette);
    const QImage image = shot(*m_led);
    QCOMPARE(image.pixel(0, 0), qRgb(200, 100, 50));  // corner
    QCOMPARE(image.pixel(6, 7), qRgb(200, 100, 50));  // inside the ring
    QCOMPARE(image.pixel(5, 3), qRgb(255, 255, 255)); // glint
}

void TestLED::fixedSize()
{
    TLED led(m_host);
    QCOMPARE(led.size(), QSize(12, 13));
    QVERIFY(!led.Lit());
    QCOMPARE(led.Color(), lcRed);
    led.resize(30, 30);
    QCOMPARE(led.size(), QSize(12, 13));
    led.setGeometry(461, 14, 30, 30);
    QCOMPARE(led.geometry(), QRect(461, 14, 12, 13));
}

void TestLED::notifications()
{
    TLED &led = *m_led;
    QSignalSpy changed(&led, &TLED::OnChangeState);

    led.setLit(false); // already unlit
    led.setColor(lcRed);
    QCOMPARE(changed.count(), 0);

    led.setLit(true);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).value<TLED *>(), &led);

    QCOMPARE(led.ChangeState(), false);
    QCOMPARE(led.ChangeState(), true);
    QCOMPARE(changed.count(), 3);

    led.setColor(lcYellow);
    QCOMPARE(changed.count(), 4);
    QCOMPARE(led.ChangeColor(), lcRed);
    QCOMPARE(led.ChangeColor(), lcGreen);
    QCOMPARE(changed.count(), 6);

    const QImage before = shot(led);
    led.setEnabled(false);
    QCOMPARE(changed.count(), 7);
    led.setEnabled(true);
    QCOMPARE(changed.count(), 8);
    // Enabled again, it shows its state unchanged.
    QVERIFY(led.Lit());
    QCOMPARE(led.Color(), lcGreen);
    compareImages(shot(led), before);
}

void TestLED::drawsAtOnce()
{
    QCoreApplication::processEvents();
    EventCounter counter(m_led);
    m_led->setLit(true);
    QCOMPARE(counter.count, 1);
    m_led->ChangeColor();
    QCOMPARE(counter.count, 2);
    m_led->ChangeState();
    QCOMPARE(counter.count, 3);
}

void TestLED::stripSharedAndLoadedAgain()
{
    auto *second = new TLED(m_host);
    const TLEDBitmap *shared = TLEDBitmap::Shared();
    QVERIFY(shared);
    QCOMPARE(shared->LED_List, (QList<TLED *>{m_led, second}));
    const int loads = TLEDBitmap::LoadCount();

    delete second;
    QCOMPARE(TLEDBitmap::Shared(), shared);
    QCOMPARE(shared->LED_List, QList<TLED *>{m_led});
    delete m_host; // the last LED
    m_host = nullptr;
    QCOMPARE(TLEDBitmap::Shared(), nullptr);

    QWidget host;
    QPalette palette = host.palette();
    palette.setColor(QPalette::Window, QColor(kParent));
    host.setPalette(palette);
    TLED led(&host);
    host.show();
    QCOMPARE(TLEDBitmap::LoadCount(), loads + 1);
    QVERIFY(TLEDBitmap::Shared());
    led.setLit(true);
    compareImages(shot(led), expectedLook(qRgb(255, 0, 0), qRgb(255, 255, 255), kParent));
}

void TestLED::clicks()
{
    QSignalSpy clicked(m_led, &TLED::OnClick);
    QTest::mouseClick(m_led, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(clicked.count(), 1);
}

QTEST_MAIN(TestLED)
#include "tst_led.moc"
