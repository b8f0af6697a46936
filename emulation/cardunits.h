#pragma once

#include <QString>

#include <cstdint>

// Conversions from the machine's units to pixels of the card view. Card positions and sizes
// come in 0.1 mm (254 per inch), the pitch in 1/pitchBase inch, font heights in millimetres.
// Pixels = inches x ppi x screenScale, computed in extended precision in the order given for
// each conversion and rounded to the nearest integer, halves to the even neighbour. Results are
// kept within +-2^30 so that offsets added to them cannot overflow.

// Round half to even, clamped to +-2^30.
int32_t RoundPixels(long double value);

// A field's X or Y text (0.1 mm): ppi x (value / 254) x screenScale; non-numbers count as 0.
int32_t TenthsToPixels(const QString &text, int ppi, double screenScale);

// Offset of character j of a field: ppi x ((pitch / pitchBase) x j) x screenScale. Fails with
// the conversion error when the pitch text is not an integer.
int32_t CharOffset(const QString &pitch, int64_t j, int ppi, double screenScale, int32_t pitchBase);

// A font's full cell height: ppi x screenScale / 25.4 x millimetres.
int32_t FontHeightPixels(int32_t millimetres, int ppi, double screenScale);

// A card edge (0.1 mm): ppi x screenScale / 25.4 x tenths / 10.
int32_t CardPixels(int32_t tenths, int ppi, double screenScale);
