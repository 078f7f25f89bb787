#include "core/float_text.hpp"

#include <charconv>
#include <cmath>
#include <system_error>

namespace quorvane::core {
namespace {

// Writes "NaN", "inf" or "-inf" and returns true, or returns false for a finite value.
bool append_special(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "NaN";
        return true;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-inf" : "inf";
        return true;
    }
    return false;
}

}  // namespace

void append_float_text(std::string& out, double value) {
    if (append_special(out, value)) return;
    if (std::signbit(value)) out += '-';

    // Shortest round-trip digits in scientific form, d[.ddd]e±x, then laid out positionally.
    char buffer[32];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                       std::chars_format::scientific);
    const char* exponent_mark = buffer;
    while (*exponent_mark != 'e') ++exponent_mark;
    const char* exponent_text = exponent_mark + 1;
    if (*exponent_text == '+') ++exponent_text;  // from_chars takes a minus sign only
    int exponent = 0;
    std::from_chars(exponent_text, written.ptr, exponent);

    std::string digits;
    for (const char* p = buffer; p != exponent_mark; ++p)
        if (*p != '.') digits += *p;

    const int digit_count = static_cast<int>(digits.size());
    if (exponent < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
    } else if (exponent >= digit_count - 1) {
        out += digits;
        out.append(static_cast<std::size_t>(exponent - (digit_count - 1)), '0');
    } else {
        out.append(digits, 0, static_cast<std::size_t>(exponent + 1));
        out += '.';
        out.append(digits, static_cast<std::size_t>(exponent + 1), std::string::npos);
    }
}

void append_float_text_fixed(std::string& out, double value, int precision) {
    if (append_special(out, value)) return;
    if (std::signbit(value)) out += '-';
    // A double's exact decimal expansion ends within 1074 fractional digits; past that every
    // digit is 0, so a larger precision is written as zeros instead of sizing a huge buffer.
    constexpr int exact_digits = 1074;
    const int digits = precision < 0 ? 0 : precision;
    const int computed = digits < exact_digits ? digits : exact_digits;
    char buffer[330 + exact_digits];  // 309 integer digits, the point, the fraction
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::fixed,
                                       computed);
    out.append(buffer, written.ptr);
    if (digits > computed) out.append(static_cast<std::size_t>(digits - computed), '0');
}

}  // namespace quorvane::core
