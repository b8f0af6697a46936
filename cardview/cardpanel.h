#pragma once

#include "cardsurface.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRegion>
#include <QTextLayout>
#include <QWidget>

#include <memory>
#include <unordered_map>

class QFileDialog;
class QPainter;

// A font sized by its full cell height (ascent plus descent), the way the machine's fonts are
// given: `ascent` is the baseline's distance from the cell's top.
struct CellFont {
    QFont font;
    int cellHeight = 0;
    int ascent = 0;
};
// The bold/regular fixed-pitch font `family` (Liberation Mono where it is not installed) whose
// cell is exactly `cellHeight` pixels on `device`. The em size is the cell height scaled by the
// face's em/(ascent + descent), fractional where needed; the baseline is the cell height split
// in the face's ascent/descent proportion.
CellFont FixedPitchCellFont(const QString &family, bool bold, int cellHeight,
                            const QPaintDevice &device);

// A rectangle with rounded corners whose corner ellipses are ellipseWidth x ellipseHeight
// (clamped to the rectangle); a pixel belongs to it when its centre lies inside.
QRegion RoundRectRegion(const QRect &rect, int ellipseWidth, int ellipseHeight);

class CardPanel;
// Gives the card panel its rounded outline (40 x 40 corners) for its current size: everything
// outside, glyphs included, is clipped away.
void RoundCardOutline(CardPanel *panel);

// The card: a rounded panel filled with a background picture, on which jobs draw their glyphs.
//
// Glyphs are kept on a transparent layer over the background, so a window that was merely
// covered gets its card back as it was. The layer is cleared exactly when the card is repainted
// on purpose: at once by repaintNow() (a new message), or at the paint that follows
// invalidateCard() (Reset, Clear, a new background, a new card size), which also takes with it
// whatever was drawn between the request and that paint.
class CardPanel : public QWidget, public CardSurface
{
    Q_OBJECT
public:
    static constexpr int kDesignWidth = 500;
    static constexpr int kDesignHeight = 318;
    static constexpr int kCornerEllipse = 40;
    // The glyph layer never grows beyond this: the host's Y has three digits (99.9 mm, under
    // 570 pixels at standard scaling), and a card wider than this is not on any screen.
    static constexpr int kMaxLayerWidth = 4096;
    static constexpr int kMaxLayerHeight = 1024;

    explicit CardPanel(QWidget *parent = nullptr);
    ~CardPanel() override;

    // Paints the background picture and the glyph layer over the whole panel.
    QWidget *PaintBox = nullptr;
    // Chooses another background picture; created on first use.
    QFileDialog *OpenPictureDialog = nullptr;
    // The background picture (the built-in brushed metal until another is loaded).
    const QImage &Image() const { return m_image; }
    // The glyphs on the card (transparent where there are none), in panel pixels.
    const QImage &glyphLayer() const { return m_layer; }

    // The card as it shows: background and glyphs inside the rounded outline, transparent
    // outside it.
    QImage cardPicture();

    // Repaints the card at the next paint, erasing every glyph.
    void invalidateCard();
    // Stretches the background picture over the paint box, aspect ratio not kept.
    void PaintBoxPaint(QPainter &painter);
    // "Hintergrundbild laden": lets the operator choose a picture and loads it.
    void acBackGroundExecute();
    // Loads a picture file as the background. A file that cannot be read as a picture fails with
    // the loader's error and keeps the old picture.
    void loadBackground(const QString &fileName);

    // CardSurface
    int ppi() const override;
    void SetCardSize(int32_t width, int32_t height) override;
    void repaintNow() override;
    void setTextFont(const QString &name, bool bold, const QColor &colour, int cellHeight) override;
    void setTextHeight(int cellHeight) override;
    void setTextColour(const QColor &colour) override;
    int TextHeight(const QString &text) const override;
    void TextOut(int x, int y, const QString &text) override;
    void DrawRotatedText(const QString &text, int x, int angle, int y) override;

    // The current text font (the framework's font until a job sets the glyph font).
    const CellFont &textFont() const { return m_font; }
    QColor textColour() const { return m_colour; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    friend class CardPaintBox;
    void paintPaintBox(QPainter &painter, const QRect &area);
    void renewLayer();
    void clearLayer();
    void drawText(const QString &text, int x, int y, int angle);

    // A text shaped in the current font, and the area it covers when drawn at the origin.
    // Shaping even one character costs more than drawing it, and a job strikes the same few
    // characters again and again, each twice: they are shaped once per font.
    struct ShapedText {
        QTextLayout layout;
        QRectF area;
    };
    const ShapedText &shaped(const QString &text);
    void setFont(const CellFont &font);
    static constexpr std::size_t kMaxShapedTexts = 1024;

    QImage m_image;
    // m_image stretched over the paint box, drawn again only for a new picture or size:
    // stretching it at every paint cost more than the rest of a strike.
    QImage m_stretched;
    QImage m_layer;
    bool m_erasePending = false;
    double m_screenScale;
    QString m_fontName;
    bool m_fontBold = false;
    bool m_fontSet = false; // false: still the framework's font
    CellFont m_font;
    std::unordered_map<QString, std::unique_ptr<ShapedText>> m_shaped; // in m_font
    QColor m_colour = Qt::black;
};
