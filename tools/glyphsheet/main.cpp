// Draws each glyph table of the dot-matrix display as a sheet: all 256 codes in 16 rows of 16,
// drawn by the display widget, with the codes written along the edges. Codes a table does not
// hold show blank cells. For looking at the glyphs, not for shipping.
//
// Usage: glyphsheet <output folder>   (runs on any platform plugin, e.g. QT_QPA_PLATFORM=offscreen)
//        glyphsheet --demo <file.png>  shows the main window's display and the seven LED looks in
//                                      a window and saves what the screen shows (run under
//                                      xvfb-run to see the real window-system path)

#include "lcdscreen.h"
#include "led.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cstdio>

namespace
{

struct Sheet {
    TDotMatrix matrix;
    const char *name;
};

const Sheet kSheets[] = {
    {mat5x7, "mat5x7"},   {mat5x8, "mat5x8"},     {mat7x9, "mat7x9"}, {mat9x12, "mat9x12"},
    {Hitachi, "Hitachi"}, {Hitachi2, "Hitachi2"}, {dos5x7, "dos5x7"},
};

QImage drawSheet(TDotMatrix matrix, const char *name)
{
    QWidget holder;
    auto *lcd = new TLCDScreen(&holder);
    lcd->setDotMatrix(matrix);
    lcd->setPixelSize(pix4x4);
    lcd->setCharSpacing(4);
    lcd->setLineSpacing(4);
    lcd->setBorderSpace(4);
    lcd->setColor(RGBToColor(174, 240, 142));
    lcd->setPixelOff(RGBToColor(206, 230, 196));
    lcd->setNoOfChars(16);
    lcd->setNoOfLines(16);
    QStringList lines;
    for (int row = 0; row < 16; ++row) {
        QString line;
        for (int column = 0; column < 16; ++column) {
            const int code = row * 16 + column;
            // Code 0 would end the line; U+0100 has the same low byte.
            line += QChar(code == 0 ? 0x100 : code);
        }
        lines << line;
    }
    lcd->setLines(lines);
    holder.resize(lcd->size());
    holder.show();
    const QImage display = lcd->grab().toImage();

    const int margin = 40;
    QImage sheet(display.width() + margin + 10, display.height() + margin + 10,
                 QImage::Format_RGB32);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    painter.drawImage(margin, margin, display);
    QFont font(QStringLiteral("Liberation Mono"));
    font.setPixelSize(12);
    painter.setFont(font);
    painter.drawText(4, 14,
                     QStringLiteral("%1  %2 x %3")
                         .arg(QLatin1String(name))
                         .arg(lcd->FontWidth())
                         .arg(lcd->FontHeight()));
    const int pitchX = lcd->FontWidth() * 4 + (lcd->FontWidth() - 1) + 4;
    const int pitchY = lcd->FontHeight() * 4 + (lcd->FontHeight() - 1) + 4;
    for (int i = 0; i < 16; ++i) {
        painter.drawText(margin + 5 + i * pitchX, margin - 6, QString::number(i, 16).toUpper());
        painter.drawText(4, margin + 5 + i * pitchY + pitchY / 2 + 4,
                         QStringLiteral("%1").arg(i * 16, 3, 10, QLatin1Char(' ')));
    }
    return sheet;
}

// The display as the main window sets it up, and the LED looks below it.
int demo(const QString &path)
{
    QWidget window;
    window.setWindowTitle(QStringLiteral("widgets"));
    window.resize(330, 70);
    auto *lcd = new TLCDScreen(&window);
    lcd->setGeometry(5, 6, 307, 28);
    lcd->setNoOfLines(1);
    lcd->setNoOfChars(20);
    lcd->setColor(9367726);
    lcd->setPixelOff(14869218);
    lcd->setLines({QStringLiteral("POWERED ON")});
    for (int i = 0; i < 7; ++i) {
        auto *led = new TLED(&window);
        led->move(5 + 20 * i, 45);
        led->setColor(static_cast<TLEDColor>(i / 2 % 3));
        led->setLit(i % 2 == 1);
        led->setEnabled(i < 6);
    }
    window.show();
    // The window system maps a window asynchronously; wait (blocking, not spinning) for that.
    while (!window.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    lcd->setLines({QStringLiteral("READY")}); // drawn at once, no event processed before the grab
    const QImage now = window.screen()->grabWindow(window.winId()).toImage();
    QTimer::singleShot(300, &window, &QWidget::close);
    QApplication::exec();
    return now.save(path) ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc == 3 && QLatin1String(argv[1]) == QLatin1String("--demo"))
        return demo(QString::fromLocal8Bit(argv[2]));
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (const Sheet &sheet : kSheets) {
        const QString path =
            out.filePath(QStringLiteral("glyphs-%1.png").arg(QLatin1String(sheet.name)));
        if (!drawSheet(sheet.matrix, sheet.name).save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return 0;
}
