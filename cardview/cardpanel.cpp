#include "cardpanel.h"

#include "cardunits.h"
#include "emulatorstate.h"
#include "vorlakerror.h"

#include <QDir>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QPaintEvent>

#include <algorithm>
#include <cmath>

// The paint area under the card's glyphs: the background picture, then the glyph layer (drawn
// "onto the panel", so it shows over the background).
class CardPaintBox : public QWidget
{
public:
    explicit CardPaintBox(CardPanel *panel) : QWidget(panel), m_panel(panel)
    {
        setObjectName(QStringLiteral("PaintBox"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QPainter painter(this);
        m_panel->paintPaintBox(painter, event->rect());
    }

private:
    CardPanel *m_panel;
};

namespace
{

const QString kFallbackFixedFont = QStringLiteral("Liberation Mono");

QStringList pictureFilters()
{
    QStringList patterns;
    const QList<QByteArray> formats = QImageReader::supportedImageFormats();
    for (const QByteArray &format : formats)
        patterns.append(QStringLiteral("*.") + QString::fromLatin1(format));
    QStringList filters{
        QStringLiteral("Alle Bilddateien (%1)").arg(patterns.join(QLatin1Char(' ')))};
    const struct {
        const char *caption;
        const char *format;
        const char *pattern;
    } named[] = {
        {"JPEG-Bilddatei", "jpeg", "*.jpg *.jpeg"},
        {"PNG-Bilddatei", "png", "*.png"},
        {"Bitmaps", "bmp", "*.bmp"},
        {"Symbole", "ico", "*.ico"},
        {"TIFF-Bilddatei", "tiff", "*.tif *.tiff"},
    };
    for (const auto &entry : named) {
        if (formats.contains(QByteArray(entry.format)))
            filters.append(QStringLiteral("%1 (%2)").arg(QString::fromLatin1(entry.caption),
                                                         QString::fromLatin1(entry.pattern)));
    }
    filters.append(QStringLiteral("Alle Dateien (*)"));
    return filters;
}

// The cell of a text drawn at the origin, with whatever its glyphs reach beyond it.
QRectF textArea(const CellFont &font, const QString &text, const QPaintDevice &device)
{
    const QFontMetricsF metrics(font.font, &device);
    const QRectF cell(0, 0, metrics.horizontalAdvance(text), font.cellHeight);
    const QRectF ink = metrics.boundingRect(text).translated(0, font.ascent);
    return cell.united(ink).adjusted(-2, -2, 2, 2);
}

} // namespace

CellFont FixedPitchCellFont(const QString &family, bool bold, int cellHeight,
                            const QPaintDevice &device)
{
    CellFont result;
    result.cellHeight = std::max(cellHeight, 1);
    QFont font;
    font.setFamilies({family, kFallbackFixedFont});
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setBold(bold);
    font.setKerning(false);

    // The face's proportions, measured large so that the rounding of metrics does not matter.
    QFont reference(font);
    reference.setPixelSize(1000);
    const QFontMetricsF referenceMetrics(reference, &device);
    const qreal ascent = referenceMetrics.ascent();
    const qreal extent = ascent + referenceMetrics.descent();
    const qreal emPixels = result.cellHeight * 1000.0 / extent;
    font.setPointSizeF(emPixels * 72.0 / device.logicalDpiY());
    result.font = font;
    result.ascent = static_cast<int>(std::lround(result.cellHeight * ascent / extent));
    return result;
}

QRegion RoundRectRegion(const QRect &rect, int ellipseWidth, int ellipseHeight)
{
    const int w = rect.width();
    const int h = rect.height();
    if (w <= 0 || h <= 0)
        return {};
    const double rx = std::min(ellipseWidth, w) / 2.0;
    const double ry = std::min(ellipseHeight, h) / 2.0;
    // How far row y is cut in on both sides.
    auto inset = [&](int y) {
        const double centre = y + 0.5;
        double dy = 0;
        if (centre < ry)
            dy = ry - centre;
        else if (centre > h - ry)
            dy = centre - (h - ry);
        if (dy <= 0 || rx <= 0)
            return 0;
        const double t = dy / ry;
        const double dx = rx * std::sqrt(std::max(0.0, 1.0 - t * t));
        return static_cast<int>(std::ceil(rx - dx - 0.5));
    };
    QRegion region;
    int top = 0;
    while (top < h) {
        const int cut = inset(top);
        int bottom = top + 1;
        while (bottom < h && inset(bottom) == cut)
            ++bottom;
        if (w - 2 * cut > 0)
            region += QRect(rect.x() + cut, rect.y() + top, w - 2 * cut, bottom - top);
        top = bottom;
    }
    return region;
}

void RoundCardOutline(CardPanel *panel)
{
    panel->setMask(
        RoundRectRegion(panel->rect(), CardPanel::kCornerEllipse, CardPanel::kCornerEllipse));
    panel->invalidateCard();
}

CardPanel::CardPanel(QWidget *parent)
    : QWidget(parent), m_image(QStringLiteral(":/background.jpg")),
      m_screenScale(EmulatorState{}.ScreenScale)
{
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
    PaintBox = new CardPaintBox(this);
    resize(kDesignWidth, kDesignHeight);
    renewLayer();
    // Rounded at its design size from the start.
    RoundCardOutline(this);
    CellFont framework;
    framework.font = font();
    const QFontMetrics metrics(framework.font);
    framework.cellHeight = metrics.height();
    framework.ascent = metrics.ascent();
    setFont(framework);
}

CardPanel::~CardPanel() = default;

void CardPanel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    PaintBox->setGeometry(rect());
}

void CardPanel::renewLayer()
{
    const int w = std::min(width(), kMaxLayerWidth);
    const int h = std::min(height(), kMaxLayerHeight);
    if (w <= 0 || h <= 0) {
        m_layer = QImage();
        return;
    }
    m_layer = QImage(w, h, QImage::Format_ARGB32_Premultiplied);
    // Fonts are sized for the panel's display; the layer takes its resolution.
    const int dotsPerMeter = static_cast<int>(std::lround(logicalDpiY() / 0.0254));
    m_layer.setDotsPerMeterX(dotsPerMeter);
    m_layer.setDotsPerMeterY(dotsPerMeter);
    m_layer.fill(Qt::transparent);
    m_shaped.clear(); // shaped for the old layer's resolution
}

void CardPanel::clearLayer()
{
    if (!m_layer.isNull())
        m_layer.fill(Qt::transparent);
}

void CardPanel::invalidateCard()
{
    // Hidden, no paint would come to take the glyphs away.
    if (isVisible())
        m_erasePending = true;
    else
        clearLayer();
    PaintBox->update();
}

void CardPanel::repaintNow()
{
    m_erasePending = false;
    clearLayer();
    PaintBox->repaint();
}

void CardPanel::paintPaintBox(QPainter &painter, const QRect &area)
{
    if (m_erasePending) {
        m_erasePending = false;
        clearLayer();
    }
    PaintBoxPaint(painter);
    if (!m_layer.isNull())
        painter.drawImage(area.topLeft(), m_layer, area);
}

void CardPanel::PaintBoxPaint(QPainter &painter)
{
    if (m_image.isNull())
        return;
    if (PaintBox->width() > kMaxLayerWidth || PaintBox->height() > kMaxLayerHeight) {
        // A card larger than any screen (a host can ask for one): a stretched copy of that size
        // would take too much memory, so it is stretched at each paint.
        m_stretched = QImage();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(PaintBox->rect(), m_image);
        return;
    }
    if (m_stretched.size() != PaintBox->size()) {
        m_stretched = QImage(PaintBox->size(), QImage::Format_ARGB32_Premultiplied);
        m_stretched.fill(Qt::transparent);
        QPainter stretch(&m_stretched);
        stretch.setRenderHint(QPainter::SmoothPixmapTransform);
        stretch.drawImage(m_stretched.rect(), m_image);
    }
    painter.drawImage(QPoint(0, 0), m_stretched);
}

void CardPanel::acBackGroundExecute()
{
    if (!OpenPictureDialog) {
        OpenPictureDialog = new QFileDialog(window());
        OpenPictureDialog->setObjectName(QStringLiteral("OpenPictureDialog"));
        OpenPictureDialog->setFileMode(QFileDialog::ExistingFile);
        OpenPictureDialog->setAcceptMode(QFileDialog::AcceptOpen);
        OpenPictureDialog->setNameFilters(pictureFilters());
    }
    if (OpenPictureDialog->exec() == QDialog::Accepted) {
        const QStringList files = OpenPictureDialog->selectedFiles();
        if (!files.isEmpty())
            loadBackground(files.first());
    }
    invalidateCard();
}

void CardPanel::loadBackground(const QString &fileName)
{
    QImageReader reader(fileName);
    reader.setAutoTransform(true);
    const QImage picture = reader.read();
    if (picture.isNull())
        throw VorlakError(QStringLiteral("%1 (%2)").arg(reader.errorString(),
                                                        QDir::toNativeSeparators(fileName)));
    // Kept in a format that stretches fast.
    m_image = picture.convertToFormat(
        picture.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    m_stretched = QImage();
}

int CardPanel::ppi() const
{
    return logicalDpiX();
}

void CardPanel::SetCardSize(int32_t width, int32_t height)
{
    const int w = std::max(0, CardPixels(width, ppi(), m_screenScale));
    const int h = std::max(0, CardPixels(height, ppi(), m_screenScale));
    resize(w, h);
    PaintBox->setGeometry(rect());
    renewLayer();
    RoundCardOutline(this);
}

void CardPanel::setTextFont(const QString &name, bool bold, const QColor &colour, int cellHeight)
{
    m_colour = colour;
    if (m_fontSet && name == m_fontName && bold == m_fontBold && cellHeight == m_font.cellHeight)
        return;
    m_fontSet = true;
    m_fontName = name;
    m_fontBold = bold;
    setFont(FixedPitchCellFont(name, bold, cellHeight, *this));
}

void CardPanel::setTextHeight(int cellHeight)
{
    if (!m_fontSet) {
        // Still the framework's font: it takes the glyph face at the wanted height.
        m_fontSet = true;
        m_fontName = m_font.font.family();
        m_fontBold = m_font.font.bold();
    } else if (cellHeight == m_font.cellHeight) {
        return;
    }
    setFont(FixedPitchCellFont(m_fontName, m_fontBold, cellHeight, *this));
}

void CardPanel::setTextColour(const QColor &colour)
{
    m_colour = colour;
}

int CardPanel::TextHeight(const QString &) const
{
    return m_font.cellHeight;
}

void CardPanel::TextOut(int x, int y, const QString &text)
{
    drawText(text, x, y, 0);
}

void CardPanel::DrawRotatedText(const QString &text, int x, int angle, int y)
{
    drawText(text, x, y, angle);
}

void CardPanel::setFont(const CellFont &font)
{
    m_font = font;
    m_shaped.clear();
}

const CardPanel::ShapedText &CardPanel::shaped(const QString &text)
{
    auto found = m_shaped.find(text);
    if (found != m_shaped.end())
        return *found->second;
    if (m_shaped.size() >= kMaxShapedTexts)
        m_shaped.clear();
    auto entry = std::make_unique<ShapedText>();
    // What QPainter::drawText does at each call: the font resolved for the layer, the
    // painter's direction, one line of unbounded width.
    entry->layout.setText(text);
    entry->layout.setFont(QFont(m_font.font, &m_layer));
    QTextOption option;
    option.setTextDirection(QGuiApplication::layoutDirection());
    entry->layout.setTextOption(option);
    entry->layout.setCacheEnabled(true);
    entry->layout.beginLayout();
    entry->layout.createLine().setPosition(QPointF(0, 0));
    entry->layout.endLayout();
    entry->area = textArea(m_font, text, *this);
    return *m_shaped.emplace(text, std::move(entry)).first->second;
}

void CardPanel::drawText(const QString &text, int x, int y, int angle)
{
    if (m_layer.isNull() || text.isEmpty())
        return;
    const ShapedText &glyphs = shaped(text);
    QPainter painter(&m_layer);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(m_colour);
    painter.translate(x, y);
    // Counter-clockwise on the screen is a negative angle for the painter.
    painter.rotate(-angle);
    // The baseline m_font.ascent below the cell's top; the layout's line has its top at the
    // point given.
    glyphs.layout.draw(&painter, QPointF(0, m_font.ascent - glyphs.layout.lineAt(0).ascent()));
    const QRect dirty = painter.transform().mapRect(glyphs.area).toAlignedRect();
    painter.end();
    PaintBox->update(dirty);
}

QImage CardPanel::cardPicture()
{
    QImage picture(size(), QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    const QRegion outline = mask().isEmpty() ? QRegion(rect()) : mask();
    render(&painter, QPoint(), outline);
    return picture;
}
