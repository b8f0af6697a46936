// Writes the window icon, resources/icons/hicolor/<N>x<N>/apps/vorlak.png for every size the
// desktop's icon theme asks for: the embossing wheel of the header logo on a metal plate.
// Each size is drawn on its own (not scaled down from the largest), so the small ones stay
// sharp. Usage: gen_icon <resources folder>

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRadialGradient>

#include <cmath>
#include <cstdio>

namespace
{

QImage drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0); // drawn on a 64 x 64 grid

    // The plate: a rounded square of brushed grey with a dark rim.
    QLinearGradient plate(0, 0, 64, 64);
    plate.setColorAt(0, QColor(225, 225, 228));
    plate.setColorAt(1, QColor(120, 120, 126));
    p.setPen(QPen(QColor(60, 60, 66), size < 32 ? 2.5 : 1.5));
    p.setBrush(plate);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

    // The character wheel: a light disc, a ring of red type dots, a dark hub.
    const QPointF centre(32, 32);
    QRadialGradient wheel(centre - QPointF(6, 6), 30);
    wheel.setColorAt(0, QColor(250, 250, 250));
    wheel.setColorAt(1, QColor(140, 140, 140));
    p.setPen(QPen(QColor(40, 40, 40), size < 32 ? 2.5 : 1.5));
    p.setBrush(wheel);
    p.drawEllipse(centre, 24, 24);

    // Fewer, larger dots where the icon is small, so they do not run together.
    const int dots = size < 32 ? 6 : 12;
    const double dotRadius = size < 32 ? 4.5 : 3.2;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 20, 20));
    for (int i = 0; i < dots; ++i) {
        const double a = i * 2 * M_PI / dots - M_PI / 2;
        p.drawEllipse(centre + QPointF(16 * std::cos(a), 16 * std::sin(a)), dotRadius, dotRadius);
    }
    p.setBrush(QColor(40, 40, 40));
    p.drawEllipse(centre, 6, 6);
    p.end();
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <resources folder>\n", argv[0]);
        return 2;
    }
    const QDir resources(QString::fromLocal8Bit(argv[1]));
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("icons/hicolor/%1x%1/apps").arg(size);
        const QString path = resources.filePath(folder + QStringLiteral("/vorlak.png"));
        if (!resources.mkpath(folder) || !drawIcon(size).save(path, "PNG")) {
            std::fprintf(stderr, "gen_icon: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
