#include "tcolor.h"

namespace
{

// System colour indexes of the reference desktop and the palette role that plays their part.
QColor systemColor(int index, const QPalette &palette)
{
    const auto role = [&palette](QPalette::ColorRole r) {
        return palette.color(QPalette::Active, r);
    };
    switch (index) {
    case 0:  // scroll bar
    case 15: // button face
        return role(QPalette::Button);
    case 1:  // desktop
    case 4:  // menu
    case 10: // active border
    case 11: // inactive border
    case 30: // menu bar
        return role(QPalette::Window);
    case 2:  // active caption
    case 3:  // inactive caption
    case 13: // highlight
    case 27: // gradient active caption
    case 28: // gradient inactive caption
    case 29: // menu highlight
        return role(QPalette::Highlight);
    case 5: // window
        return role(QPalette::Base);
    case 6: // window frame
        return role(QPalette::Shadow);
    case 7: // menu text
        return role(QPalette::WindowText);
    case 8: // window text
        return role(QPalette::Text);
    case 9:  // caption text
    case 14: // highlight text
    case 19: // inactive caption text
        return role(QPalette::HighlightedText);
    case 12: // application workspace
    case 16: // button shadow
        return role(QPalette::Dark);
    case 17: // grey text
        return palette.color(QPalette::Disabled, QPalette::Text);
    case 18: // button text
        return role(QPalette::ButtonText);
    case 20: // button highlight
        return role(QPalette::Light);
    case 21: // 3D dark shadow
        return role(QPalette::Shadow);
    case 22: // 3D light
        return role(QPalette::Midlight);
    case 23: // tooltip text
        return role(QPalette::ToolTipText);
    case 24: // tooltip background
        return role(QPalette::ToolTipBase);
    case 26: // hot-tracked item
        return role(QPalette::Link);
    default:
        return QColor(0, 0, 0);
    }
}

} // namespace

QColor ColorToQColor(TColor color, const QPalette &palette)
{
    if ((color >> 24) == 0xFF)
        return systemColor(static_cast<int>(color & 0xFF), palette);
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

TColor ColorToRGB(TColor color, const QPalette &palette)
{
    const QColor c = ColorToQColor(color, palette);
    return RGBToColor(c.red(), c.green(), c.blue());
}
