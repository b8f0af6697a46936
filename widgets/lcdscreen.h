#pragma once

#include "lcdglyphs.h"
#include "tcolor.h"

#include <QImage>
#include <QStringList>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <functional>
#include <vector>

// Ordinal n stands for a dot of (n + 1) x (n + 1) screen pixels; pixCustom takes PixelWidth and
// PixelHeight.
enum TPixelSize : uint8_t {
    pix1x1,
    pix2x2,
    pix3x3,
    pix4x4,
    pix5x5,
    pix6x6,
    pix7x7,
    pix8x8,
    pix9x9,
    pix10x10,
    pix11x11,
    pix12x12,
    pix13x13,
    pix14x14,
    pix15x15,
    pix16x16,
    pixCustom
};
// psShaped draws square unlit dots and round lit ones.
enum TPixelShape : uint8_t { psSquare, psShaped, psRound };
enum TLCDBorder : uint8_t { bsRaised, bsLowered, bsSingle, bsNone };
// smDependant pads all lines to one length so that they scroll in step.
enum TScrollMode : uint8_t { smIndependant, smDependant };

// A character LCD module: NoOfLines lines of NoOfChars cells, each cell a matrix of dots drawn
// lit or unlit on a backlight, inside a one-pixel frame. The text is a list of lines; a timer
// can rotate it sideways and up or down.
//
// The counts decide the size: the control sizes itself to whole cells, and a size given from
// outside is turned into counts and snapped. Every setter that changes the picture redraws
// before it returns (a text set just before a long wait of the caller is already on screen);
// a paint composes the whole display off-screen and puts it on the screen in one copy.
class TLCDScreen : public QWidget
{
    Q_OBJECT
public:
    explicit TLCDScreen(QWidget *parent = nullptr);
    ~TLCDScreen() override;

    // Shows a refused setting: a modal error box with one OK button. Tests replace it.
    static std::function<void(QWidget *parent, const QString &message)> ShowRefusal;

    // The text, one string per display line. Every change repaints at once.
    const QStringList &Lines() const { return FLines; }
    void setLines(const QStringList &lines);
    // The text as one string; line breaks (CR LF, LF or CR) separate the lines.
    QString Text() const;
    void setText(const QString &text);

    uint8_t NoOfLines() const { return FNoOfLines; }
    void setNoOfLines(uint8_t value);
    uint8_t NoOfChars() const { return FNoOfChars; }
    void setNoOfChars(uint8_t value);

    TDotMatrix DotMatrix() const { return FDotMatrix; }
    void setDotMatrix(TDotMatrix value);
    TPixelSize PixelSize() const { return FPixelSize; }
    void setPixelSize(TPixelSize value);
    // Follow PixelSize; settable only under pixCustom.
    uint8_t PixelWidth() const { return FPixelWidth; }
    void setPixelWidth(uint8_t value);
    uint8_t PixelHeight() const { return FPixelHeight; }
    void setPixelHeight(uint8_t value);
    TPixelShape PixelShape() const { return FPixelShape; }
    void setPixelShape(TPixelShape value);

    uint8_t PixelSpacing() const { return FPixelSpacing; }
    void setPixelSpacing(uint8_t value);
    uint8_t CharSpacing() const { return FCharSpacing; }
    void setCharSpacing(uint8_t value);
    uint8_t LineSpacing() const { return FLineSpacing; }
    void setLineSpacing(uint8_t value);
    uint8_t BorderSpace() const { return FBorderSpace; }
    void setBorderSpace(uint8_t value);
    TLCDBorder BorderStyle() const { return FBorderStyle; }
    void setBorderStyle(TLCDBorder value);
    TColor BorderColor() const { return FBorderColor; }
    void setBorderColor(TColor value);

    // The backlight: the background of the control and of the gaps between dots.
    TColor Color() const { return FColor; }
    void setColor(TColor value);
    TColor PixelOff() const { return FPixelOff; }
    void setPixelOff(TColor value);
    TColor PixelOn() const { return FPixelOn; }
    void setPixelOn(TColor value);
    // Contrast of lit dots against unlit ones.
    uint8_t Intensity() const { return FIntensity; }
    void setIntensity(uint8_t value);

    bool ScrollActive() const { return FScrollActive; }
    void setScrollActive(bool value);
    // Milliseconds between scroll steps; 0 gives no steps.
    uint32_t ScrollSpeed() const { return FScrollSpeed; }
    void setScrollSpeed(uint32_t value);
    // Characters per step; negative scrolls to the left.
    int8_t ScrollHorz() const { return FScrollHorz; }
    void setScrollHorz(int8_t value) { FScrollHorz = value; }
    // Lines per step; negative scrolls upwards.
    int8_t ScrollVert() const { return FScrollVert; }
    void setScrollVert(int8_t value) { FScrollVert = value; }
    TScrollMode ScrollMode() const { return FScrollMode; }
    void setScrollMode(TScrollMode value);

    // Dots across and down of a cell of the current DotMatrix.
    int FontWidth() const { return pix_x; }
    int FontHeight() const { return pix_y; }

    // The whole redraw, at once.
    void Paint();
    // One step of the scroll timer: rotates the working copy of the text and repaints.
    void ScrollStep();
    // The colour lit dots are drawn in (black until PixelOff, PixelOn or Intensity changes).
    QRgb TrueOnColor() const { return FTrueOnColor; }
    // The glyph codes of the cells as of the last paint, NoOfLines rows of NoOfChars.
    const std::vector<std::vector<uint16_t>> &DisplayLines() const { return FDisplayLines; }
    const QTimer &ScrollTimer() const { return FScrollTimer; }

    QSize sizeHint() const override { return QSize(FWidth, FHeight); }

signals:
    void OnClick();
    void OnDblClick();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void CalcSize();
    void BuildVirginMatrix();
    void CalcTrueOnColor();
    void LinesChanged();
    void FillDisplayLines();
    void DrawCharacter(QImage &canvas, uint16_t code, int x, int y) const;
    void fillDot(QImage &canvas, int x, int y, bool round, QRgb color) const;
    void updateTimer();
    void refuse(const QString &message);
    QRgb rgb(TColor color) const;

    QStringList FLines;
    uint8_t FNoOfLines = 1;
    uint8_t FNoOfChars = 10;
    TDotMatrix FDotMatrix = mat5x7;
    TPixelSize FPixelSize = pix2x2;
    uint8_t FPixelWidth = 2;
    uint8_t FPixelHeight = 2;
    TPixelShape FPixelShape = psSquare;
    uint8_t FPixelSpacing = 1;
    uint8_t FCharSpacing = 1;
    uint8_t FLineSpacing = 1;
    uint8_t FBorderSpace = 3;
    TLCDBorder FBorderStyle = bsLowered;
    TColor FBorderColor = clBlack;
    TColor FColor = RGBToColor(192, 192, 192);
    TColor FPixelOff = RGBToColor(170, 170, 170);
    TColor FPixelOn = clBlack;
    uint8_t FIntensity = 255;
    bool FScrollActive = false;
    uint32_t FScrollSpeed = 250;
    int8_t FScrollHorz = 0;
    int8_t FScrollVert = 0;
    TScrollMode FScrollMode = smIndependant;

    int pix_x = 5;
    int pix_y = 7;
    int psx = 2;
    int psy = 2;
    int charw = 0;
    int charh = 0;
    int FWidth = 0;
    int FHeight = 0;
    QImage FVirginMatrixBitmap;
    // Which pixels of a psx x psy box a round dot covers, row by row.
    std::vector<bool> FRoundDot;
    QRgb FTrueOnColor = qRgb(0, 0, 0);
    QStringList FtempLines;
    std::vector<std::vector<uint16_t>> FDisplayLines;
    QTimer FScrollTimer;

    // The last composed picture and what it was composed from. A paint with the same
    // background recomposes only the cells whose glyph changed: the machine sets its display
    // text at every poll, nearly always to the text it already shows.
    struct CanvasKey {
        int width = 0, height = 0;
        QRgb color = 0, frameFirst = 0, frameSecond = 0, on = 0;
        int border = 0, borderSpace = 0, charSpacing = 0, lineSpacing = 0;
        int lines = 0, chars = 0;
        bool enabled = false;
        qint64 blankCell = 0;
        bool operator==(const CanvasKey &o) const;
    };
    CanvasKey canvasKey() const;
    QImage m_canvas;
    CanvasKey m_canvasKey;
    std::vector<std::vector<uint16_t>> m_canvasCells;
};
