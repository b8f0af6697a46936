#pragma once

#include <QColor>
#include <QPalette>

#include <cstdint>

// A colour value: red in the low byte, green in the second, blue in the third. A value whose
// high byte is 0xFF names a system colour by the index in its low byte.
using TColor = uint32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clSystemColor = 0xFF000000;
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clBtnShadow = clSystemColor | 16;
constexpr TColor clBtnHighlight = clSystemColor | 20;

constexpr TColor RGBToColor(int red, int green, int blue)
{
    return static_cast<TColor>((red & 0xFF) | (green & 0xFF) << 8 | (blue & 0xFF) << 16);
}

// The RGB of a colour value. System colours come from the palette's matching role (the 3D
// shadow is QPalette::Dark, the 3D highlight QPalette::Light, ...), active group; an unknown
// system index gives black.
QColor ColorToQColor(TColor color, const QPalette &palette);

// The same as a colour value without a system colour.
TColor ColorToRGB(TColor color, const QPalette &palette);
