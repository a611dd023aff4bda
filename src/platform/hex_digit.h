#pragma once
// Hexadecimal digits read one at a time (RTF picture data and \'hh escapes, stored ciphertext).

namespace yunshan {

// The value of a hexadecimal digit of either case; -1 for any other character.
constexpr int hex_digit_value(char32_t c)
{
    if (c >= '0' && c <= '9')
        return int(c - '0');
    if (c >= 'a' && c <= 'f')
        return int(c - 'a') + 10;
    if (c >= 'A' && c <= 'F')
        return int(c - 'A') + 10;
    return -1;
}

} // namespace yunshan
