#pragma once

#include <QImage>
#include <QList>
#include <QWidget>

#include <cstdint>

enum TLEDColor : uint8_t { lcRed, lcGreen, lcYellow };

class TLED;

// The picture strip all LEDs of the process draw from: 2 columns (unlit, lit) by 4 rows (red,
// green, yellow, disabled) of 12 x 13 cells. It lives from the creation of the first LED to the
// destruction of the last.
class TLEDBitmap
{
public:
    TLEDBitmap();

    QImage LED_Pics;
    QList<TLED *> LED_List;
    // The strip's transparent colour: its bottom-left pixel.
    QRgb Trans_Color = 0;

    // The strip shared by the LEDs that exist now; null when there are none.
    static const TLEDBitmap *Shared() { return s_shared; }
    // How often a strip has been loaded in this process.
    static int LoadCount() { return s_loads; }

private:
    friend class TLED;
    static TLEDBitmap *s_shared;
    static int s_loads;
};

// A round indicator lamp, red, green or yellow, lit or unlit, or a hollow ring when disabled.
// Always 12 x 13 pixels; the parent's background shows in the corners and inside the ring.
class TLED : public QWidget
{
    Q_OBJECT
public:
    static constexpr int CellWidth = 12;
    static constexpr int CellHeight = 13;

    explicit TLED(QWidget *parent = nullptr);
    ~TLED() override;

    bool Lit() const { return FLit; }
    void setLit(bool value);
    TLEDColor Color() const { return FColor; }
    void setColor(TLEDColor value);

    // Toggles Lit; returns the new state.
    bool ChangeState();
    // Steps red, green, yellow, red; returns the new colour.
    TLEDColor ChangeColor();

    QSize sizeHint() const override { return QSize(CellWidth, CellHeight); }

signals:
    // Lit, Color or Enabled changed.
    void OnChangeState(TLED *Sender);
    void OnClick();
    void OnDblClick();

protected:
    virtual void DrawLED(QPainter &painter);
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    QColor backgroundColor() const;

    bool FLit = false;
    TLEDColor FColor = lcRed;
};
