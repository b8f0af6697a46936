// Writes resources/background.jpg: the built-in card background, a 600 x 400 grey brushed-metal
// texture. Deterministic: the same file on every run.
// Usage: gen_background <output.jpg or resources folder>

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace
{
constexpr int kWidth = 600;
constexpr int kHeight = 400;

// A running mean over `radius` pixels on each side, wrapping round: noise smeared along the
// brushing direction turns into fine streaks.
std::vector<double> smear(const std::vector<double> &row, int radius)
{
    const int n = static_cast<int>(row.size());
    std::vector<double> out(row.size());
    double sum = 0;
    for (int i = -radius; i <= radius; ++i)
        sum += row[static_cast<size_t>((i + n) % n)];
    for (int x = 0; x < n; ++x) {
        out[static_cast<size_t>(x)] = sum / (2 * radius + 1);
        sum += row[static_cast<size_t>((x + radius + 1) % n)];
        sum -= row[static_cast<size_t>((x - radius + n) % n)];
    }
    return out;
}
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    // A folder (as tools/generate-resources.sh passes) gets the file under its own name.
    QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("background.jpg");
    if (QFileInfo(out).isDir())
        out = QDir(out).filePath(QStringLiteral("background.jpg"));

    std::mt19937 random(830);
    std::normal_distribution<double> noise(0.0, 1.0);

    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    double rowTone = 0;
    for (int y = 0; y < kHeight; ++y) {
        // Each row has a tone of its own that drifts slowly down the sheet.
        rowTone = 0.85 * rowTone + 0.15 * noise(random) * 6.0;
        std::vector<double> fine(kWidth), coarse(kWidth);
        for (int x = 0; x < kWidth; ++x) {
            fine[static_cast<size_t>(x)] = noise(random);
            coarse[static_cast<size_t>(x)] = noise(random);
        }
        const std::vector<double> streaks = smear(fine, 6);
        const std::vector<double> bands = smear(coarse, 40);
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < kWidth; ++x) {
            // A broad diagonal sheen, as light falls on a brushed sheet.
            const double d = (x * 0.55 - y + 60.0) / 170.0;
            const double sheen = 26.0 * std::exp(-d * d) - 10.0 * (double(y) / kHeight);
            const double v = 168.0 + rowTone + 18.0 * streaks[static_cast<size_t>(x)] +
                             30.0 * bands[static_cast<size_t>(x)] + sheen + 2.5 * noise(random);
            const int grey = std::clamp(static_cast<int>(std::lround(v)), 0, 255);
            // A faint cool cast, as steel has.
            line[x] = qRgb(std::clamp(grey - 2, 0, 255), grey, std::clamp(grey + 3, 0, 255));
        }
    }
    return image.save(out, "JPEG", 90) ? 0 : 1;
}
