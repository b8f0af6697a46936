#include "lcdscreen.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>

#include <algorithm>
#include <climits>
#include <cmath>

std::function<void(QWidget *, const QString &)> TLCDScreen::ShowRefusal =
    [](QWidget *parent, const QString &message) {
        QMessageBox::critical(parent, QGuiApplication::applicationDisplayName(), message);
    };

namespace
{

void fillRect(QImage &image, int x, int y, int w, int h, QRgb color)
{
    const int x0 = std::max(x, 0);
    const int y0 = std::max(y, 0);
    const int x1 = std::min(x + w, image.width());
    const int y1 = std::min(y + h, image.height());
    for (int row = y0; row < y1; ++row) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(row));
        std::fill(line + x0, line + std::max(x0, x1), color);
    }
}

void setPixel(QImage &image, int x, int y, QRgb color)
{
    if (x >= 0 && y >= 0 && x < image.width() && y < image.height())
        reinterpret_cast<QRgb *>(image.scanLine(y))[x] = color;
}

// Copies the whole of `source` onto `target` with its top-left corner at (x, y), clipped.
void blit(QImage &target, const QImage &source, int x, int y)
{
    const int x0 = std::max(x, 0);
    const int x1 = std::min(x + source.width(), target.width());
    if (x1 <= x0)
        return;
    for (int row = std::max(y, 0); row < std::min(y + source.height(), target.height()); ++row) {
        const auto *from = reinterpret_cast<const QRgb *>(source.constScanLine(row - y));
        auto *to = reinterpret_cast<QRgb *>(target.scanLine(row));
        std::copy(from + (x0 - x), from + (x1 - x), to + x0);
    }
}

// The pixels of a w x h box whose centres lie inside the inscribed ellipse.
std::vector<bool> ellipseMask(int w, int h)
{
    std::vector<bool> mask(static_cast<std::size_t>(w) * h);
    const double rx = w / 2.0;
    const double ry = h / 2.0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double dx = (x + 0.5 - rx) / rx;
            const double dy = (y + 0.5 - ry) / ry;
            mask[static_cast<std::size_t>(y) * w + x] = dx * dx + dy * dy <= 1.0;
        }
    }
    return mask;
}

// Channel of the lit colour: the difference of the unlit and the base colour scaled by the
// contrast, rounded half away from zero, low 8 bits.
int litChannel(int off, int on, int intensity)
{
    const long scaled = std::lround((257 - intensity) * static_cast<double>(off - on) / 256.0);
    return static_cast<int>(scaled & 0xFF);
}

} // namespace

TLCDScreen::TLCDScreen(QWidget *parent) : QWidget(parent)
{
    // The size a new widget starts with is not a size given from outside.
    FWidth = width();
    FHeight = height();
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    BuildVirginMatrix();
    FScrollTimer.setInterval(static_cast<int>(FScrollSpeed));
    connect(&FScrollTimer, &QTimer::timeout, this, &TLCDScreen::ScrollStep);
}

TLCDScreen::~TLCDScreen()
{
    FScrollTimer.stop();
}

QRgb TLCDScreen::rgb(TColor color) const
{
    return ColorToQColor(color, palette()).rgb();
}

void TLCDScreen::refuse(const QString &message)
{
    if (ShowRefusal)
        ShowRefusal(window(), message);
}

// --- text -----------------------------------------------------------------------------------

void TLCDScreen::setLines(const QStringList &lines)
{
    FLines = lines;
    LinesChanged();
}

QString TLCDScreen::Text() const
{
    QString text;
    for (const QString &line : FLines)
        text += line + QLatin1String("\r\n");
    return text;
}

void TLCDScreen::setText(const QString &text)
{
    QStringList lines = text.split(QRegularExpression(QStringLiteral("\r\n|\n|\r")));
    // A final line break ends the last line rather than starting an empty one.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    setLines(lines);
}

void TLCDScreen::LinesChanged()
{
    FtempLines = FLines;
    while (FtempLines.size() < FNoOfLines)
        FtempLines.append(QStringLiteral(" "));

    // The padding leaves a blank gap between a line's end and its start when it rotates.
    int length = FNoOfChars;
    if (FScrollMode == smDependant) {
        for (const QString &line : std::as_const(FtempLines))
            length = std::max(length, static_cast<int>(line.size()));
        ++length;
    }
    for (QString &line : FtempLines) {
        if (line.isEmpty())
            continue;
        do
            line += QLatin1Char(' ');
        while (line.size() < length);
    }
    Paint();
}

void TLCDScreen::ScrollStep()
{
    const int h = FScrollHorz;
    if (h != 0) {
        const int shift = std::abs(h);
        const int count =
            std::min(static_cast<int>(FNoOfLines), static_cast<int>(FtempLines.size()));
        for (int i = 0; i < count; ++i) {
            QString &line = FtempLines[i];
            if (shift >= line.size())
                continue;
            if (h < 0)
                line = line.mid(shift) + line.left(shift);
            else
                line = line.right(shift) + line.left(line.size() - shift);
        }
    }
    const int v = FScrollVert;
    if (v != 0 && !FtempLines.isEmpty()) {
        for (int n = std::abs(v); n > 0; --n) {
            if (v < 0)
                FtempLines.append(FtempLines.takeFirst());
            else
                FtempLines.prepend(FtempLines.takeLast());
        }
    }
    Paint();
}

void TLCDScreen::FillDisplayLines()
{
    FDisplayLines.assign(FNoOfLines, std::vector<uint16_t>(FNoOfChars, uint16_t(' ')));
    for (int i = 0; i < FNoOfLines && i < FtempLines.size(); ++i) {
        const QString &line = FtempLines.at(i);
        // A character of code 0 blanks the rest of its line.
        int end = line.indexOf(QChar(0));
        if (end < 0)
            end = static_cast<int>(line.size());
        for (int j = 0; j < FNoOfChars && j < end; ++j)
            FDisplayLines[i][j] = line.at(j).unicode() & 0xFF;
    }
}

// --- geometry and pictures ------------------------------------------------------------------

void TLCDScreen::CalcSize()
{
    const bool resized = width() != FWidth || height() != FHeight;

    if (FPixelSize == pixCustom) {
        psx = FPixelWidth;
        psy = FPixelHeight;
    } else {
        psx = psy = FPixelSize + 1;
        FPixelWidth = FPixelHeight = static_cast<uint8_t>(psx);
    }
    charw = pix_x * psx + (pix_x - 1) * FPixelSpacing;
    charh = pix_y * psy + (pix_y - 1) * FPixelSpacing;

    if (resized) {
        // A size given from outside becomes counts; the display is built for 1 to 255 of each.
        const auto count = [](int room, int spacing, int cell) {
            return static_cast<uint8_t>(std::clamp((room + spacing) / (spacing + cell), 1, 255));
        };
        FNoOfChars = count(width() - 2 * FBorderSpace, FCharSpacing, charw);
        FNoOfLines = count(height() - 2 * FBorderSpace, FLineSpacing, charh);
    }

    FWidth = FNoOfChars * charw + (FNoOfChars - 1) * FCharSpacing + 2 * FBorderSpace + 2;
    FHeight = FNoOfLines * charh + (FNoOfLines - 1) * FLineSpacing + 2 * FBorderSpace + 2;
    if (width() != FWidth || height() != FHeight) {
        resize(FWidth, FHeight); // a nested resizeEvent finds the size settled
        updateGeometry();
    }
}

void TLCDScreen::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (width() != FWidth || height() != FHeight)
        CalcSize();
}

void TLCDScreen::BuildVirginMatrix()
{
    FVirginMatrixBitmap = QImage();
    pix_x = LCDGlyphs::cellWidth(FDotMatrix);
    pix_y = LCDGlyphs::cellHeight(FDotMatrix);
    CalcSize();

    FRoundDot = ellipseMask(psx, psy);
    QImage cell(std::max(charw, 1), std::max(charh, 1), QImage::Format_RGB32);
    cell.fill(rgb(FColor));
    const QRgb off = rgb(FPixelOff);
    for (int r = 0; r < pix_y; ++r)
        for (int c = 0; c < pix_x; ++c)
            fillDot(cell, c * (psx + FPixelSpacing), r * (psy + FPixelSpacing),
                    FPixelShape == psRound, off);
    FVirginMatrixBitmap = cell;
}

void TLCDScreen::fillDot(QImage &canvas, int x, int y, bool round, QRgb color) const
{
    if (FPixelSize == pix1x1) {
        setPixel(canvas, x, y, color);
    } else if (!round) {
        fillRect(canvas, x, y, psx, psy, color);
    } else {
        for (int dy = 0; dy < psy; ++dy)
            for (int dx = 0; dx < psx; ++dx)
                if (FRoundDot[static_cast<std::size_t>(dy) * psx + dx])
                    setPixel(canvas, x + dx, y + dy, color);
    }
}

void TLCDScreen::CalcTrueOnColor()
{
    // The difference scaled, not the base colour plus a scaled difference: with a black base the
    // lit dots run from 2/256 of the unlit colour at full intensity to 257/256 of it at 0.
    const QColor off = ColorToQColor(FPixelOff, palette());
    const QColor on = ColorToQColor(FPixelOn, palette());
    FTrueOnColor = qRgb(litChannel(off.red(), on.red(), FIntensity),
                        litChannel(off.green(), on.green(), FIntensity),
                        litChannel(off.blue(), on.blue(), FIntensity));
}

void TLCDScreen::DrawCharacter(QImage &canvas, uint16_t code, int x, int y) const
{
    blit(canvas, FVirginMatrixBitmap, x, y);
    if (code == ' ' || !LCDGlyphs::holdsGlyph(FDotMatrix, code))
        return;
    const bool round = FPixelShape != psSquare;
    for (int r = 0; r < pix_y; ++r)
        for (int c = 0; c < pix_x; ++c)
            if (LCDGlyphs::dotLit(FDotMatrix, code, r, c))
                fillDot(canvas, x + c * (psx + FPixelSpacing), y + r * (psy + FPixelSpacing), round,
                        FTrueOnColor);
}

void TLCDScreen::Paint()
{
    CalcSize();
    FillDisplayLines();
    if (isVisible())
        repaint(); // synchronous: on screen before the caller goes on
}

bool TLCDScreen::CanvasKey::operator==(const CanvasKey &o) const
{
    return width == o.width && height == o.height && color == o.color &&
           frameFirst == o.frameFirst && frameSecond == o.frameSecond && on == o.on &&
           border == o.border && borderSpace == o.borderSpace && charSpacing == o.charSpacing &&
           lineSpacing == o.lineSpacing && lines == o.lines && chars == o.chars &&
           enabled == o.enabled && blankCell == o.blankCell;
}

TLCDScreen::CanvasKey TLCDScreen::canvasKey() const
{
    CanvasKey key;
    key.width = width();
    key.height = height();
    key.color = rgb(FColor);
    key.border = FBorderStyle;
    if (FBorderStyle != bsNone) {
        key.frameFirst = key.frameSecond = rgb(FBorderColor);
        if (FBorderStyle == bsRaised) {
            key.frameFirst = rgb(clBtnShadow);
            key.frameSecond = rgb(clBtnHighlight);
        } else if (FBorderStyle == bsLowered) {
            key.frameFirst = rgb(clBtnHighlight);
            key.frameSecond = rgb(clBtnShadow);
        }
    }
    key.on = FTrueOnColor;
    key.borderSpace = FBorderSpace;
    key.charSpacing = FCharSpacing;
    key.lineSpacing = FLineSpacing;
    key.lines = FNoOfLines;
    key.chars = FNoOfChars;
    key.enabled = isEnabled();
    // Replaced whenever anything that shapes a cell changes (matrix, dot size, shape and
    // spacing, colours).
    key.blankCell = FVirginMatrixBitmap.cacheKey();
    return key;
}

void TLCDScreen::paintEvent(QPaintEvent *)
{
    FillDisplayLines();
    const CanvasKey key = canvasKey();
    const bool recompose = !(key == m_canvasKey) || m_canvas.isNull();
    if (recompose) {
        const int w = key.width;
        const int h = key.height;
        m_canvas = QImage(w, h, QImage::Format_RGB32);
        m_canvas.fill(key.color);
        if (FBorderStyle != bsNone) {
            // Right and bottom edges first, then top and left: the top-right corner takes the
            // second colour, the bottom-left one the first.
            fillRect(m_canvas, w - 1, 0, 1, h, key.frameFirst);
            fillRect(m_canvas, 0, h - 1, w, 1, key.frameFirst);
            fillRect(m_canvas, 0, 0, w, 1, key.frameSecond);
            fillRect(m_canvas, 0, 0, 1, h - 1, key.frameSecond);
        }
        m_canvasKey = key;
        m_canvasCells.clear();
    }

    if (key.enabled) {
        for (int i = 0; i < FNoOfLines; ++i)
            for (int j = 0; j < FNoOfChars; ++j) {
                const uint16_t code = FDisplayLines[i][j];
                if (!recompose && m_canvasCells[i][j] == code)
                    continue;
                DrawCharacter(m_canvas, code, FBorderSpace + 1 + j * (charw + FCharSpacing),
                              FBorderSpace + 1 + i * (charh + FLineSpacing));
            }
        m_canvasCells = FDisplayLines;
    }

    QPainter painter(this);
    painter.drawImage(0, 0, m_canvas);
}

// --- events ---------------------------------------------------------------------------------

void TLCDScreen::mouseReleaseEvent(QMouseEvent *event)
{
    QWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit OnClick();
}

void TLCDScreen::mouseDoubleClickEvent(QMouseEvent *event)
{
    QWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit OnDblClick();
}

void TLCDScreen::updateTimer()
{
    // An interval of 0 means no ticks, not ticks as fast as possible.
    if (FScrollActive && FScrollSpeed > 0) {
        FScrollTimer.setInterval(static_cast<int>(std::min<uint32_t>(FScrollSpeed, INT_MAX)));
        FScrollTimer.start();
    } else {
        FScrollTimer.stop();
    }
}

// --- setters --------------------------------------------------------------------------------

void TLCDScreen::setNoOfLines(uint8_t value)
{
    if (value == FNoOfLines)
        return;
    if (value == 0) {
        refuse(QStringLiteral("Display needs at least one line!"));
        return;
    }
    FNoOfLines = value;
    if (FScrollActive)
        LinesChanged();
    else
        Paint();
}

void TLCDScreen::setNoOfChars(uint8_t value)
{
    if (value == FNoOfChars)
        return;
    if (value == 0) {
        refuse(QStringLiteral("Display needs at least one character!"));
        return;
    }
    FNoOfChars = value;
    if (FScrollActive)
        LinesChanged();
    else
        Paint();
}

void TLCDScreen::setDotMatrix(TDotMatrix value)
{
    if (value == FDotMatrix)
        return;
    FDotMatrix = value;
    BuildVirginMatrix();
    Paint();
}

void TLCDScreen::setPixelSize(TPixelSize value)
{
    if (value == FPixelSize)
        return;
    FPixelSize = value;
    BuildVirginMatrix();
    Paint();
}

void TLCDScreen::setPixelWidth(uint8_t value)
{
    if (value == FPixelWidth || FPixelSize != pixCustom)
        return;
    if (value == 0) {
        refuse(QStringLiteral("Display pixel width must be 1 or greater!"));
        return;
    }
    FPixelWidth = value;
    BuildVirginMatrix();
    Paint();
}

void TLCDScreen::setPixelHeight(uint8_t value)
{
    if (value == FPixelHeight || FPixelSize != pixCustom)
        return;
    if (value == 0) {
        refuse(QStringLiteral("Display pixel height must be 1 or greate!"));
        return;
    }
    FPixelHeight = value;
    BuildVirginMatrix();
    Paint();
}

void TLCDScreen::setPixelShape(TPixelShape value)
{
    if (value == FPixelShape)
        return;
    FPixelShape = value;
    BuildVirginMatrix();
    Paint();
}

void TLCDScreen::setPixelSpacing(uint8_t value)
{
    if (value == FPixelSpacing)
        return;
    FPixelSpacing = value;
    BuildVirginMatrix();
    Paint();
}

void TLCDScreen::setColor(TColor value)
{
    if (value == FColor)
        return;
    FColor = value;
    BuildVirginMatrix();
    Paint();
}

void TLCDScreen::setPixelOff(TColor value)
{
    if (value == FPixelOff)
        return;
    FPixelOff = value;
    BuildVirginMatrix();
    CalcTrueOnColor();
    if (!FScrollActive)
        Paint();
}

void TLCDScreen::setPixelOn(TColor value)
{
    if (value == FPixelOn)
        return;
    FPixelOn = value;
    CalcTrueOnColor();
    if (!FScrollActive)
        Paint();
}

void TLCDScreen::setIntensity(uint8_t value)
{
    if (value == FIntensity)
        return;
    FIntensity = value;
    CalcTrueOnColor();
    if (!FScrollActive)
        Paint();
}

void TLCDScreen::setBorderStyle(TLCDBorder value)
{
    if (value == FBorderStyle)
        return;
    FBorderStyle = value;
    Paint();
}

void TLCDScreen::setBorderColor(TColor value)
{
    if (value == FBorderColor)
        return;
    FBorderColor = value;
    Paint();
}

void TLCDScreen::setCharSpacing(uint8_t value)
{
    if (value == FCharSpacing)
        return;
    FCharSpacing = value;
    Paint();
}

void TLCDScreen::setLineSpacing(uint8_t value)
{
    if (value == FLineSpacing)
        return;
    FLineSpacing = value;
    Paint();
}

void TLCDScreen::setBorderSpace(uint8_t value)
{
    if (value == FBorderSpace)
        return;
    FBorderSpace = value;
    Paint();
}

void TLCDScreen::setScrollMode(TScrollMode value)
{
    if (value == FScrollMode)
        return;
    FScrollMode = value;
    LinesChanged();
}

void TLCDScreen::setScrollActive(bool value)
{
    if (value == FScrollActive)
        return;
    FScrollActive = value;
    updateTimer();
    LinesChanged();
}

void TLCDScreen::setScrollSpeed(uint32_t value)
{
    if (value == FScrollSpeed)
        return;
    FScrollSpeed = value;
    updateTimer();
}
