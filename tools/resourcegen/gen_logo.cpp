// Writes resources/logo.png: the header logo, 271 x 50 with an alpha channel.
// Usage: gen_logo <output.png or resources folder>

#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    // A folder (as tools/generate-resources.sh passes) gets the file under its own name.
    QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("logo.png");
    if (QFileInfo(out).isDir())
        out = QDir(out).filePath(QStringLiteral("logo.png"));

    QImage image(271, 50, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // A stylised embossing wheel: a ring of raised dots around a hub.
    const QPointF centre(25, 25);
    p.setPen(QPen(QColor(40, 40, 40), 2));
    QRadialGradient hub(centre, 22);
    hub.setColorAt(0, QColor(235, 235, 235));
    hub.setColorAt(1, QColor(120, 120, 120));
    p.setBrush(hub);
    p.drawEllipse(centre, 22, 22);
    p.setBrush(QColor(200, 20, 20));
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 12; ++i) {
        const double a = i * 2 * M_PI / 12;
        p.drawEllipse(centre + QPointF(16 * std::cos(a), 16 * std::sin(a)), 2.6, 2.6);
    }
    p.setBrush(QColor(40, 40, 40));
    p.drawEllipse(centre, 5, 5);

    // The maker's name in raised letters: a light copy offset up-left, the dark face on top.
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(34);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    QPainterPath text;
    text.addText(56, 37, font, QStringLiteral("CORVANE"));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 220));
    p.drawPath(text.translated(-1, -1));
    QLinearGradient face(0, 8, 0, 40);
    face.setColorAt(0, QColor(90, 90, 100));
    face.setColorAt(1, QColor(20, 20, 30));
    p.setBrush(face);
    p.drawPath(text);
    p.setPen(QPen(QColor(200, 20, 20), 2));
    p.drawLine(QPointF(58, 45), QPointF(268, 45));
    p.end();
    return image.save(out) ? 0 : 1;
}
