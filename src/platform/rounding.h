#pragma once
// Rounding of computed sizes and positions (list item heights, the picture viewer's geometry).
#include <cmath>

namespace yunshan {

// Round half to even: the floating-point environment's default rounding.
inline int round_half_even(double value)
{
    return int(std::nearbyint(value));
}

} // namespace yunshan
