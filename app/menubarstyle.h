#pragma once

#include <QProxyStyle>

// The menu bar as the machine's window draws it: captions in the bar's own colours (black on
// the bar, white behind the open or highlighted entry, disabled entries grey), no frame or line
// under an entry, and the 20-pixel entries centred in the taller bar.
class MenuBarStyle : public QProxyStyle
{
public:
    explicit MenuBarStyle(int barHeight, int itemHeight);

    int pixelMetric(PixelMetric metric, const QStyleOption *option = nullptr,
                    const QWidget *widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;

    // The bar's palette: white empty area and highlight, black captions, grey disabled ones.
    static QPalette barPalette(QPalette palette);

private:
    int m_verticalMargin;
};
