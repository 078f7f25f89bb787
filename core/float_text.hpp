#pragma once
// How the library writes a double as text, for every printed form.
//
// NaN (any sign or payload) is "NaN"; the infinities are "inf" and "-inf". Every other value is
// a "-" when the sign bit is set (so negative zero is "-0"), then the shortest digit string that
// reads back as the same double -- the digits Python's float repr uses -- laid out positionally:
// never an exponent, no trailing ".0", "0.000..." below 1 and trailing zeros for large values.
#include <string>

namespace quorvane::core {

void append_float_text(std::string& out, double value);

inline std::string float_text(double value) {
    std::string out;
    append_float_text(out, value);
    return out;
}

// The same rule, but with exactly `precision` digits after the decimal point (rounded to
// nearest); NaN and the infinities are written as above, and a negative precision counts as 0.
void append_float_text_fixed(std::string& out, double value, int precision);

}  // namespace quorvane::core
