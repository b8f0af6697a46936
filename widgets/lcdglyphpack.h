#pragma once

// Building blocks of the glyph table sources; not for users of the tables.

#include "lcdglyphs.h"

#include <initializer_list>

namespace LCDGlyphs
{

// One drawn glyph: its code and its rows from the top, separated by '|'; '#' lit, '.' unlit.
struct GlyphRows {
    int code;
    const char *rows;
};

// A run of drawn glyphs with consecutive codes.
struct GlyphRun {
    const GlyphRows *glyphs;
    std::size_t count;
};

// Packs runs of drawn glyphs into a byte table at compile time. A glyph out of code order, a
// row of the wrong length, a wrong number of rows, a stray character or a glyph count that does
// not fill the table exactly stops the build.
template <int W, int H, std::size_t Bytes>
constexpr std::array<uint8_t, Bytes> packGlyphs(int firstCode, std::initializer_list<GlyphRun> runs)
{
    static_assert(Bytes % (W * H) == 0, "a table holds whole glyphs");
    std::array<uint8_t, Bytes> dots{};
    std::size_t at = 0;
    int code = firstCode;
    for (const GlyphRun &run : runs) {
        for (std::size_t g = 0; g < run.count; ++g, ++code) {
            const GlyphRows &glyph = run.glyphs[g];
            if (glyph.code != code)
                throw "glyph out of code order";
            const char *p = glyph.rows;
            for (int r = 0; r < H; ++r) {
                if (r > 0 && *p++ != '|')
                    throw "glyph row too long or too few rows";
                for (int c = 0; c < W; ++c, ++p) {
                    if (at >= Bytes)
                        throw "more glyphs than the table holds";
                    if (*p == '#')
                        dots[at++] = 1;
                    else if (*p == '.')
                        dots[at++] = 0;
                    else
                        throw "glyph row too short or stray character";
                }
            }
            if (*p != '\0')
                throw "glyph has too many rows";
        }
    }
    if (at != Bytes)
        throw "fewer glyphs than the table holds";
    return dots;
}

} // namespace LCDGlyphs
