// libFuzzer target for the float-to-text rule of core/float_text.cpp.
//
// Input layout (short inputs are padded with zero bytes):
//   bytes 0-7   the double, as little-endian bits
//   bytes 8-9   the precision for the fixed form, little-endian int16 (negative counts as 0)
//   byte  10    how many characters of text already stand in the output string
//
// Every printed form of the module goes through these two functions, so each property below is
// checked against an independent reference: glibc's strtod and printf, not std::to_chars.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "core/float_text.hpp"

namespace {

[[noreturn]] void fail(const char* what, double value, const std::string& text) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    std::fprintf(stderr, "float text check failed: %s\n  value bits 0x%016llx (%.17g)\n  text \"%s\"\n", what,
                 static_cast<unsigned long long>(bits), value, text.c_str());
    std::abort();
}

void check(bool holds, const char* what, double value, const std::string& text) {
    if (!holds) fail(what, value, text);
}

std::uint64_t bits_of(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// NaN and the infinities have fixed texts in both forms.
bool check_special(double value, const std::string& text) {
    if (std::isnan(value)) {
        check(text == "NaN", "a NaN is written NaN, without a sign", value, text);
        return true;
    }
    if (std::isinf(value)) {
        check(text == (value < 0 ? "-inf" : "inf"), "an infinity is written inf or -inf", value, text);
        return true;
    }
    return false;
}

// "-" exactly when the sign bit is set, then an integer part without leading zeros (a lone "0"
// aside); returns the position just after the integer part.
std::size_t check_sign_and_integer_part(double value, const std::string& text) {
    std::size_t at = 0;
    if (std::signbit(value)) {
        check(!text.empty() && text[0] == '-', "a set sign bit gives a leading minus", value, text);
        at = 1;
    }
    check(text.find('-', at) == std::string::npos, "a minus sign only in front", value, text);
    check(text.find_first_of("eE+") == std::string::npos, "no exponent and no plus sign", value, text);
    const std::size_t integer_begin = at;
    while (at < text.size() && is_digit(text[at])) ++at;
    check(at > integer_begin, "an integer part is always written", value, text);
    check(text[integer_begin] != '0' || at == integer_begin + 1, "no leading zeros", value, text);
    return at;
}

// The digits from the first non-zero one to the last, with the point left out.
std::string significant_digits(std::string_view text) {
    std::string digits;
    for (char c : text)
        if (is_digit(c)) digits += c;
    const std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) return "0";
    const std::size_t last = digits.find_last_not_of('0');
    return digits.substr(first, last - first + 1);
}

// The fewest significant digits whose correctly rounded form reads back as `value`, with those
// digits, by printf's %.*e.
std::string shortest_by_printf(double value) {
    char buffer[64];
    for (int precision = 0; precision < 17; ++precision) {
        std::snprintf(buffer, sizeof buffer, "%.*e", precision, std::fabs(value));
        if (bits_of(std::strtod(buffer, nullptr)) == bits_of(std::fabs(value))) break;
    }
    return significant_digits(std::string_view(buffer, std::strchr(buffer, 'e') - buffer));
}

void check_shortest(double value, const std::string& text) {
    if (check_special(value, text)) return;
    check(text.size() <= 350, "no finite value needs more than 350 characters", value, text);
    const std::size_t after_integer = check_sign_and_integer_part(value, text);
    const bool integral = std::trunc(value) == value;
    if (after_integer == text.size()) {
        check(integral, "no point only for an integral value", value, text);
    } else {
        check(!integral, "an integral value has no fractional part", value, text);
        check(text[after_integer] == '.', "only a point follows the integer part", value, text);
        std::size_t at = after_integer + 1;
        while (at < text.size() && is_digit(text[at])) ++at;
        check(at == text.size() && at > after_integer + 1, "digits after the point, then nothing", value, text);
        check(text.back() != '0', "no trailing zeros after the point", value, text);
    }
    check(bits_of(std::strtod(text.c_str(), nullptr)) == bits_of(value), "the text reads back as the same double",
          value, text);

    // Shortest: never more significant digits than the correctly rounded shortest form. Where the
    // gap below the value is half the gap above (an exact power of two), a shorter string can
    // round-trip that is not the nearest one, so the digits themselves are compared elsewhere only.
    const std::string digits = significant_digits(text);
    const std::string reference = shortest_by_printf(value);
    check(digits.size() <= reference.size(), "no more digits than the shortest round trip needs", value, text);
    const bool power_of_two = (bits_of(value) & 0x000FFFFFFFFFFFFFull) == 0;
    if (!power_of_two && value != 0.0)
        check(digits == reference, "the digits of the shortest round trip", value, text);
}

void check_fixed(double value, int precision, const std::string& text) {
    if (check_special(value, text)) return;
    const int digits = precision < 0 ? 0 : precision;
    const std::size_t after_integer = check_sign_and_integer_part(value, text);
    if (digits == 0) {
        check(after_integer == text.size(), "precision 0 writes no point", value, text);
    } else {
        check(after_integer < text.size() && text[after_integer] == '.', "a point before the fraction", value, text);
        const std::size_t fraction = text.size() - after_integer - 1;
        check(fraction == static_cast<std::size_t>(digits), "exactly `precision` digits after the point", value,
              text);
        for (std::size_t at = after_integer + 1; at < text.size(); ++at)
            check(is_digit(text[at]), "only digits after the point", value, text);
    }
    // printf rounds the exact binary value to nearest, ties to even, as the rule asks.
    std::string reference(static_cast<std::size_t>(digits) + 400, '\0');
    const int length = std::snprintf(reference.data(), reference.size(), "%.*f", digits, std::fabs(value));
    reference.resize(static_cast<std::size_t>(length));
    const std::string unsigned_text = text.substr(std::signbit(value) ? 1 : 0);
    check(unsigned_text == reference, "the digits printf writes for that precision", value, text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint8_t input[11] = {};
    std::memcpy(input, data, size < sizeof input ? size : sizeof input);

    double value;
    std::memcpy(&value, input, sizeof value);
    const auto precision = static_cast<std::int16_t>(input[8] | (input[9] << 8));
    const std::string prefix(input[10] % 8, '#');

    // The functions append: what stood in the string before stays untouched.
    std::string shortest = prefix;
    quorvane::core::append_float_text(shortest, value);
    check(shortest.compare(0, prefix.size(), prefix) == 0, "the text already there is kept", value, shortest);
    check_shortest(value, shortest.substr(prefix.size()));
    check(quorvane::core::float_text(value) == shortest.substr(prefix.size()), "float_text matches", value,
          shortest);

    std::string fixed = prefix;
    quorvane::core::append_float_text_fixed(fixed, value, precision);
    check(fixed.compare(0, prefix.size(), prefix) == 0, "the text already there is kept", value, fixed);
    check_fixed(value, precision, fixed.substr(prefix.size()));
    return 0;
}
