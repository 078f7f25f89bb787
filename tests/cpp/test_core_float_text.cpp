// The float-to-text rule that every printed form of the module uses.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <string>

#include "core/float_text.hpp"

namespace quorvane::core {
namespace {

struct Shortest {
    double value;
    const char* text;
};

class FloatTextShortest : public ::testing::TestWithParam<Shortest> {};

TEST_P(FloatTextShortest, WritesPositionalShortestDigits) {
    EXPECT_EQ(float_text(GetParam().value), GetParam().text);
}

const std::string smallest_subnormal_text = "0." + std::string(323, '0') + "5";

INSTANTIATE_TEST_SUITE_P(
    Examples, FloatTextShortest,
    ::testing::Values(Shortest{1.0, "1"}, Shortest{100.0, "100"}, Shortest{-2.5, "-2.5"}, Shortest{0.1, "0.1"},
                      Shortest{1.0 / 3.0, "0.3333333333333333"}, Shortest{1.5e-7, "0.00000015"},
                      Shortest{1e21, "1000000000000000000000"},
                      Shortest{1.2345678901234568e20, "123456789012345680000"},
                      Shortest{std::numeric_limits<double>::denorm_min(), smallest_subnormal_text.c_str()},
                      Shortest{0.0, "0"}, Shortest{-0.0, "-0"}, Shortest{123.456, "123.456"},
                      Shortest{1e16, "10000000000000000"}, Shortest{0.001, "0.001"},
                      Shortest{std::numeric_limits<double>::quiet_NaN(), "NaN"},
                      Shortest{-std::numeric_limits<double>::quiet_NaN(), "NaN"},
                      Shortest{std::bit_cast<double>(std::uint64_t{0x7FF0000000000001}), "NaN"},
                      Shortest{std::numeric_limits<double>::infinity(), "inf"},
                      Shortest{-std::numeric_limits<double>::infinity(), "-inf"}));

TEST(FloatText, LargestDoubleHasAllItsIntegerDigits) {
    const std::string text = float_text(std::numeric_limits<double>::max());
    EXPECT_EQ(text.size(), 309u);
    EXPECT_EQ(text.substr(0, 17), "17976931348623157");
    EXPECT_EQ(text.find_first_not_of('0', 17), std::string::npos);
}

TEST(FloatText, AppendKeepsWhatIsAlreadyThere) {
    std::string out = "Vec3d(";
    append_float_text(out, -0.5);
    out += ", ";
    append_float_text_fixed(out, 2.0, 1);
    EXPECT_EQ(out, "Vec3d(-0.5, 2.0");
}

struct Fixed {
    double value;
    int precision;
    const char* text;
};

class FloatTextFixed : public ::testing::TestWithParam<Fixed> {};

TEST_P(FloatTextFixed, WritesExactlyThatManyFractionDigits) {
    std::string out;
    append_float_text_fixed(out, GetParam().value, GetParam().precision);
    EXPECT_EQ(out, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, FloatTextFixed,
    ::testing::Values(Fixed{1.5, 3, "1.500"}, Fixed{90.0, 0, "90"}, Fixed{1.0 / 3.0, 4, "0.3333"},
                      // 2.675 is stored as 2.67499999...; rounding follows the stored value
                      Fixed{2.675, 2, "2.67"}, Fixed{0.5, 0, "0"}, Fixed{1.5, 0, "2"},
                      Fixed{-0.0, 2, "-0.00"}, Fixed{-0.001, 2, "-0.00"}, Fixed{1e21, 1, "1000000000000000000000.0"},
                      Fixed{1.5e-7, 8, "0.00000015"},
                      Fixed{std::numeric_limits<double>::quiet_NaN(), 3, "NaN"},
                      Fixed{-std::numeric_limits<double>::infinity(), 3, "-inf"}));

}  // namespace
}  // namespace quorvane::core
