#include "lcdglyphs.h"

// Inside this namespace the table names hide the TDotMatrix values of the same names, so the
// values are written with "::".
namespace LCDGlyphs
{

namespace
{

template <std::size_t N>
GlyphTable make(const std::array<uint8_t, N> &dots, int width, int height, int firstCode)
{
    const int count = static_cast<int>(N / (width * height));
    return GlyphTable{dots.data(), N, width, height, firstCode, firstCode + count - 1};
}

// Hitachi2 draws codes below its own table from Hitachi.
constexpr int kHitachi2Own = 194;

} // namespace

GlyphTable table(TDotMatrix matrix)
{
    switch (matrix) {
    case ::mat5x7:
        return make(mat5x7, 5, 7, 32);
    case ::mat5x8:
        return make(mat5x8, 5, 8, 32);
    case ::mat7x9:
        return make(mat7x9, 7, 9, 32);
    case ::mat9x12:
        return make(mat9x12, 9, 12, 32);
    case ::Hitachi:
        return make(Hitachi, 5, 7, 32);
    case ::Hitachi2:
        return make(Hitachi2, 5, 10, kHitachi2Own);
    case ::dos5x7:
        return make(dos5x7, 5, 7, 0);
    }
    return make(mat5x7, 5, 7, 32);
}

int cellWidth(TDotMatrix matrix)
{
    return table(matrix).width;
}

int cellHeight(TDotMatrix matrix)
{
    return table(matrix).height;
}

bool holdsGlyph(TDotMatrix matrix, int code)
{
    if (matrix == ::Hitachi2 && code < kHitachi2Own)
        return table(::Hitachi).holds(code);
    return table(matrix).holds(code);
}

bool dotLit(TDotMatrix matrix, int code, int row, int col)
{
    GlyphTable t = table(matrix);
    if (row < 0 || col < 0 || row >= t.height || col >= t.width)
        return false;
    if (matrix == ::Hitachi2 && code < kHitachi2Own)
        t = table(::Hitachi); // seven rows; the rows below stay unlit
    if (!t.holds(code) || row >= t.height)
        return false;
    return t.glyph(code)[row * t.width + col] != 0;
}

} // namespace LCDGlyphs
