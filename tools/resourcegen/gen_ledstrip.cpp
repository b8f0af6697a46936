// Writes ledstrip.png, the picture strip of the LED indicator: 24 x 52 pixels, 16 colours,
// 2 columns (unlit, lit) by 4 rows (red, green, yellow, disabled) of 12 x 13 cells.
//
// Usage: gen_ledstrip <output folder>

#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>

namespace
{

// One cell, 13 rows of 12 pixels: - transparent, G grey, K black, W white, B the lamp's body,
// H its glint.
const char *const kPattern[13] = {
    "----GGGG----", //
    "--GGKKKKGG--", //
    "-G-KBBBBK-G-", //
    "-GKBBHHBBKW-", //
    "GKBBHBBBBBGW", //
    "GKBHBBBBBBGW", //
    "GKBHBBBBBBGW", //
    "GKBBBBBBBBGW", //
    "GKBBBBBBBBGW", //
    "-GKBBBBBBGW-", //
    "-G-GBBBBG-W-", //
    "--WWGGGGWW--", //
    "----WWWW----", //
};

// The 16 colours of the strip; the cells use ten of them.
const QRgb kPalette[16] = {
    qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
    qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
    qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
    qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255),
};

const QRgb kTransparent = qRgb(0, 128, 128);
const QRgb kGrey = qRgb(128, 128, 128);
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kWhite = qRgb(255, 255, 255);

struct Look {
    QRgb body;
    QRgb glint;
};

// [row][column]: rows red, green, yellow, disabled; columns unlit, lit.
const Look kLooks[4][2] = {
    {{qRgb(128, 0, 0), qRgb(255, 0, 0)}, {qRgb(255, 0, 0), kWhite}},
    {{qRgb(0, 128, 0), qRgb(0, 255, 0)}, {qRgb(0, 255, 0), kWhite}},
    {{qRgb(128, 128, 0), qRgb(255, 255, 0)}, {qRgb(255, 255, 0), kWhite}},
    {{kTransparent, kWhite}, {kTransparent, kWhite}},
};

int paletteIndex(QRgb color)
{
    for (int i = 0; i < 16; ++i)
        if (kPalette[i] == color)
            return i;
    std::fprintf(stderr, "colour %08x is not in the palette\n", color);
    std::exit(1);
}

QRgb pixelColor(char key, const Look &look)
{
    switch (key) {
    case 'G':
        return kGrey;
    case 'K':
        return kBlack;
    case 'W':
        return kWhite;
    case 'B':
        return look.body;
    case 'H':
        return look.glint;
    default:
        return kTransparent;
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    QImage strip(24, 52, QImage::Format_Indexed8);
    strip.setColorTable(QList<QRgb>(std::begin(kPalette), std::end(kPalette)));
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 2; ++column)
            for (int y = 0; y < 13; ++y)
                for (int x = 0; x < 12; ++x)
                    strip.setPixel(column * 12 + x, row * 13 + y,
                                   paletteIndex(pixelColor(kPattern[y][x], kLooks[row][column])));
    const QString path =
        QDir(QString::fromLocal8Bit(argv[1])).filePath(QStringLiteral("ledstrip.png"));
    if (!strip.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    return 0;
}
