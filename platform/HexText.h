// Hexadecimal digits in text: the one reading of them shared by the serial
// port's identification strings, stored passwords, the engine state file and
// the model's version strings.
#pragma once

namespace pvx {

// The value of one hexadecimal digit of either case, or -1 for any other
// character.
constexpr int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace pvx
