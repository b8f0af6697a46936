#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Dots per cell and glyph table of a dot-matrix display.
enum TDotMatrix : uint8_t { mat5x7, mat5x8, mat7x9, mat9x12, Hitachi, Hitachi2, dos5x7 };

// The glyph tables of the dot-matrix display. A glyph is stored row by row, top row first and
// left dot first, one byte per dot (1 lit, 0 unlit); the glyphs lie back to back in code order
// from the table's first code.
namespace LCDGlyphs
{

extern const std::array<uint8_t, 3325> mat5x7;   // 5 x 7, codes 32-126
extern const std::array<uint8_t, 3800> mat5x8;   // 5 x 8, codes 32-126
extern const std::array<uint8_t, 5985> mat7x9;   // 7 x 9, codes 32-126
extern const std::array<uint8_t, 10260> mat9x12; // 9 x 12, codes 32-126
extern const std::array<uint8_t, 6720> Hitachi;  // 5 x 7, codes 32-223
extern const std::array<uint8_t, 1500> Hitachi2; // 5 x 10, codes 194-223; lower codes use Hitachi
extern const std::array<uint8_t, 8960> dos5x7;   // 5 x 7, codes 0-255

struct GlyphTable {
    const uint8_t *dots;
    std::size_t size;
    int width;
    int height;
    int firstCode;
    int lastCode;

    bool holds(int code) const { return code >= firstCode && code <= lastCode; }
    // The glyph's width x height bytes; only for a code the table holds.
    const uint8_t *glyph(int code) const
    {
        return dots + static_cast<std::size_t>(code - firstCode) * width * height;
    }
};

// The table a dot matrix draws from; for Hitachi2 its own ten-row table.
GlyphTable table(TDotMatrix matrix);

// Dots across and down of a cell.
int cellWidth(TDotMatrix matrix);
int cellHeight(TDotMatrix matrix);

// Whether a glyph is drawn for the code (codes without one show a blank cell).
bool holdsGlyph(TDotMatrix matrix, int code);

// Whether the glyph of the code lights the dot in row `row`, column `col` (from 0). Under
// Hitachi2, codes below 194 take the Hitachi glyph in the top seven rows and leave the rest
// unlit. False for codes without a glyph and for dots outside the cell.
bool dotLit(TDotMatrix matrix, int code, int row, int col);

} // namespace LCDGlyphs
