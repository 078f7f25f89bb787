// Angle constants, conversions, trigonometry, arithmetic, comparison and text, bit for bit.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "core/angle.hpp"

namespace quorvane::core {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::nan("");

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

struct Quoted {
    const char* name;
    double actual;
    double expected;
};

std::string name_of(const ::testing::TestParamInfo<Quoted>& info) { return info.param.name; }

class QuotedValue : public ::testing::TestWithParam<Quoted> {};

TEST_P(QuotedValue, HasExactlyTheQuotedBits) {
    EXPECT_EQ(bits(GetParam().actual), bits(GetParam().expected))
        << std::hexfloat << GetParam().actual << " vs " << GetParam().expected;
}

INSTANTIATE_TEST_SUITE_P(
    Constants, QuotedValue,
    ::testing::Values(Quoted{"zero", AngleRadians::zero().angle, 0.0},
                      Quoted{"pi", AngleRadians::pi().angle, 3.141592653589793},
                      Quoted{"two_pi", AngleRadians::two_pi().angle, 6.283185307179586},
                      Quoted{"half_pi", AngleRadians::half_pi().angle, 1.5707963267948966},
                      // one unit in the last place below the double nearest to pi/3 (…979)
                      Quoted{"third_pi", AngleRadians::third_pi().angle, 1.0471975511965976},
                      Quoted{"quarter_pi", AngleRadians::quarter_pi().angle, 0.7853981633974483},
                      Quoted{"sixth_pi", AngleRadians::sixth_pi().angle, 0.5235987755982988}),
    name_of);

INSTANTIATE_TEST_SUITE_P(
    Conversions, QuotedValue,
    ::testing::Values(Quoted{"third_pi_to_degrees", AngleRadians::third_pi().to_degrees().angle, 59.99999999999999},
                      Quoted{"sixth_pi_to_degrees", AngleRadians::sixth_pi().to_degrees().angle, 29.999999999999996},
                      Quoted{"half_pi_to_degrees", AngleRadians::half_pi().to_degrees().angle, 90.0},
                      Quoted{"quarter_pi_to_degrees", AngleRadians::quarter_pi().to_degrees().angle, 45.0},
                      Quoted{"pi_to_degrees", AngleRadians::pi().to_degrees().angle, 180.0},
                      Quoted{"two_pi_to_degrees", AngleRadians::two_pi().to_degrees().angle, 360.0},
                      Quoted{"sixty_to_radians", AngleDegrees{60.0}.to_radians().angle, 1.0471975511965976},
                      Quoted{"ninety_to_radians", AngleDegrees{90.0}.to_radians().angle, 1.5707963267948966},
                      Quoted{"fortyfive_to_radians", AngleDegrees{45.0}.to_radians().angle, 0.7853981633974483},
                      Quoted{"minus_zero_to_degrees", AngleRadians{-0.0}.to_degrees().angle, -0.0}),
    name_of);

// The glibc values; the reciprocals are never guarded.
INSTANTIATE_TEST_SUITE_P(
    Trigonometry, QuotedValue,
    ::testing::Values(Quoted{"tan_quarter_pi", AngleRadians::quarter_pi().tan(), 0.9999999999999999},
                      Quoted{"cot_quarter_pi", AngleRadians::quarter_pi().cot(), 1.0000000000000002},
                      Quoted{"cot_zero", AngleRadians{0.0}.cot(), inf},
                      Quoted{"cot_minus_zero", AngleRadians{-0.0}.cot(), -inf},
                      Quoted{"csc_zero", AngleRadians{0.0}.csc(), inf},
                      Quoted{"sec_half_pi", AngleRadians::half_pi().sec(), 1.633123935319537e16},
                      Quoted{"cot_half_pi", AngleRadians::half_pi().cot(), 6.123233995736766e-17}),

    name_of);

INSTANTIATE_TEST_SUITE_P(
    Arithmetic, QuotedValue,
    ::testing::Values(Quoted{"sum", (AngleRadians{1.5} + AngleRadians{0.25}).angle, 1.75},
                      Quoted{"difference_is_left_minus_right", (AngleRadians{1.5} - AngleRadians{0.25}).angle, 1.25},
                      Quoted{"scaled", (AngleRadians::pi() * 2.0).angle, 6.283185307179586},
                      Quoted{"divided", (AngleRadians::pi() / 3.0).angle, 1.0471975511965976},
                      Quoted{"divided_by_zero", (AngleRadians{1.0} / 0.0).angle, inf},
                      Quoted{"divided_by_minus_zero", (AngleRadians{1.0} / -0.0).angle, -inf},
                      Quoted{"negated_zero", (-AngleRadians::zero()).angle, -0.0},
                      Quoted{"negated_degrees_zero", (-AngleDegrees{0.0}).angle, -0.0},
                      Quoted{"negated_degrees", (-AngleDegrees{45.5}).angle, -45.5}),
    name_of);

TEST(AngleRadians, ZeroOverZeroIsNan) { EXPECT_TRUE(std::isnan((AngleRadians{0.0} / 0.0).angle)); }

TEST(AngleRadians, NegationKeepsTheNanPayload) {
    const double payload_nan = std::bit_cast<double>(std::uint64_t{0x7FF8000000000123});
    EXPECT_EQ(bits((-AngleRadians{payload_nan}).angle), 0xFFF8000000000123u);
    EXPECT_EQ(bits((-AngleDegrees{payload_nan}).angle), 0xFFF8000000000123u);
}

// Both types compare their doubles exactly: no tolerance, NaN unordered, the zeros equal.
template <typename Angle>
class AngleComparison : public ::testing::Test {};

using AngleTypes = ::testing::Types<AngleRadians, AngleDegrees>;
TYPED_TEST_SUITE(AngleComparison, AngleTypes);

TYPED_TEST(AngleComparison, ExactWithoutTolerance) {
    const TypeParam one{1.0}, next{1.0 + epsilon};
    EXPECT_FALSE(one == next);
    EXPECT_TRUE(one != next);
    EXPECT_TRUE(one < next && one <= next && next > one && next >= one);
    EXPECT_FALSE(one > next || one >= next);
    EXPECT_TRUE(TypeParam{0.0} == TypeParam{-0.0});
    EXPECT_FALSE(TypeParam{0.0} < TypeParam{-0.0});
}

TYPED_TEST(AngleComparison, NanIsUnorderedEvenWithItself) {
    const TypeParam a{nan};
    EXPECT_FALSE(a == a);
    EXPECT_TRUE(a != a);
    EXPECT_FALSE(a < a || a <= a || a > a || a >= a);
    EXPECT_FALSE(a < TypeParam{inf} || a > TypeParam{-inf});
}

TEST(AngleTo, QuotedAngles) {
    EXPECT_EQ(bits(angle_to({1, 0, 0}, {0, 1, 0}).angle), bits(1.5707963267948966));
    EXPECT_EQ(bits(angle_to({1, 0, 0}, {-1, 0, 0}).angle), bits(3.141592653589793));
    EXPECT_EQ(bits(angle_to({2, 0, 0}, {0, 0, 0.5}).angle), bits(1.5707963267948966));
}

// Nothing clamps the cosine or guards a zero length.
TEST(AngleTo, UnclampedQuotientAndZeroLengthGiveNan) {
    EXPECT_TRUE(std::isnan(angle_to({1, 1, 1}, {1, 1, 1}).angle));  // quotient 1.0000000000000002
    EXPECT_TRUE(std::isnan(angle_to({0, 0, 0}, {1, 0, 0}).angle));
    EXPECT_TRUE(std::isnan(angle_to({1, 0, 0}, {0, 0, 0}).angle));
}

TEST(AngleText, RadiansAndDegrees) {
    EXPECT_EQ(to_text(AngleRadians{1.5}), "1.5 radians");
    EXPECT_EQ(to_text(AngleRadians::pi()), "3.141592653589793 radians");
    EXPECT_EQ(to_text(-AngleRadians::zero()), "-0 radians");
    EXPECT_EQ(to_text(AngleRadians{1e20}), "100000000000000000000 radians");
    EXPECT_EQ(to_text(AngleRadians{nan}), "NaN radians");
    EXPECT_EQ(to_text(AngleDegrees{90.0}), "90\xC2\xB0");
    EXPECT_EQ(to_text(AngleDegrees{-45.5}), "-45.5\xC2\xB0");
    EXPECT_EQ(to_text(AngleDegrees{-inf}), "-inf\xC2\xB0");
}

TEST(AngleText, FixedPrecisionKeepsTheUnit) {
    EXPECT_EQ(to_text(AngleRadians{1.5}, 3), "1.500 radians");
    EXPECT_EQ(to_text(AngleRadians::third_pi(), 2), "1.05 radians");
    EXPECT_EQ(to_text(AngleDegrees{90.0}, 0), "90\xC2\xB0");
    EXPECT_EQ(to_text(AngleDegrees{59.99999999999999}, 1), "60.0\xC2\xB0");
    EXPECT_EQ(to_text(AngleDegrees{nan}, 2), "NaN\xC2\xB0");
}

TEST(AngleText, AppendsAfterExistingText) {
    std::string out = "angle: ";
    append_text(out, AngleRadians{2.0});
    EXPECT_EQ(out, "angle: 2 radians");
}

}  // namespace
}  // namespace quorvane::core
