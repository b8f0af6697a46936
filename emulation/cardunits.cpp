#include "cardunits.h"

#include "hosttext.h"

#include <cmath>

namespace
{
constexpr long double kLimit = 1 << 30;
}

int32_t RoundPixels(long double value)
{
    if (std::isnan(value))
        return 0;
    // nearbyint rounds in the current mode, which is to nearest with ties to even.
    const long double rounded = std::nearbyint(value);
    if (rounded > kLimit)
        return static_cast<int32_t>(kLimit);
    if (rounded < -kLimit)
        return static_cast<int32_t>(-kLimit);
    return static_cast<int32_t>(rounded);
}

int32_t TenthsToPixels(const QString &text, int ppi, double screenScale)
{
    const long double value = HostStrToIntDef(text, 0);
    return RoundPixels(static_cast<long double>(ppi) * (value / 254.0L) * screenScale);
}

int32_t CharOffset(const QString &pitch, int64_t j, int ppi, double screenScale, int32_t pitchBase)
{
    const long double value = HostStrToInt(pitch);
    return RoundPixels(static_cast<long double>(ppi) *
                       ((value / static_cast<long double>(pitchBase)) * j) * screenScale);
}

int32_t FontHeightPixels(int32_t millimetres, int ppi, double screenScale)
{
    return RoundPixels(static_cast<long double>(ppi) * screenScale / 25.4L * millimetres);
}

int32_t CardPixels(int32_t tenths, int ppi, double screenScale)
{
    return RoundPixels(static_cast<long double>(ppi) * screenScale / 25.4L * tenths / 10);
}
