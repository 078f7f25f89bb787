// Vec3d arithmetic, compared by bits wherever a result is quoted exactly.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "core/vec3d.hpp"

namespace quorvane::core {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::nan("");

std::array<std::uint64_t, 3> bits(const Vec3d& v) {
    return {std::bit_cast<std::uint64_t>(v.x), std::bit_cast<std::uint64_t>(v.y), std::bit_cast<std::uint64_t>(v.z)};
}

TEST(Vec3d, NewFromToPointsFromFirstToSecond) {
    EXPECT_EQ(bits(new_from_to({1, 2, 3}, {4, 6, 8})), bits({3.0, 4.0, 5.0}));
}

TEST(Vec3d, CrossIsRightHandedAndAnticommutative) {
    EXPECT_EQ(bits(cross(Vec3d::i(), Vec3d::j())), bits(Vec3d::k()));
    EXPECT_EQ(bits(cross(Vec3d::j(), Vec3d::i())), bits({0.0, 0.0, -1.0}));
    EXPECT_EQ(bits(cross(Vec3d::k(), Vec3d::i())), bits(Vec3d::j()));
}

TEST(Vec3d, NegationFlipsSignBitsOnly) {
    EXPECT_EQ(bits(-Vec3d::zero()), bits({-0.0, -0.0, -0.0}));
    const double payload_nan = std::bit_cast<double>(std::uint64_t{0x7FF8000000000123});
    const Vec3d negated = -Vec3d{payload_nan, 1.0, 2.0};
    EXPECT_EQ(std::bit_cast<std::uint64_t>(negated.x), 0xFFF8000000000123u);
    EXPECT_EQ(negated.y, -1.0);
    EXPECT_EQ(negated.z, -2.0);
}

TEST(Vec3d, DivisionByZeroFollowsIeee) {
    EXPECT_EQ(bits(Vec3d{1, 2, 3} / 0.0), bits({inf, inf, inf}));
    const Vec3d mixed = Vec3d{0, -1, 2} / 0.0;
    EXPECT_TRUE(std::isnan(mixed.x));
    EXPECT_EQ(bits({0.0, mixed.y, mixed.z}), bits({0.0, -inf, inf}));
}

TEST(Vec3d, NormalizeIncludingDegenerateMagnitudes) {
    const Vec3d n = normalize({3, 4, 0});
    EXPECT_EQ(bits(n), bits({0.6, 0.8, 0.0}));
    EXPECT_TRUE(is_unit(n));
    EXPECT_TRUE(is_unit(normalize({1, 1, 1})));

    const Vec3d tenths = normalize({0.1, 0.2, 0.3});
    EXPECT_EQ(magnitude(tenths), 0.9999999999999999);
    EXPECT_TRUE(is_unit(tenths));

    const Vec3d zero = normalize(Vec3d::zero());
    EXPECT_TRUE(std::isnan(zero.x) && std::isnan(zero.y) && std::isnan(zero.z));
    EXPECT_FALSE(is_unit(zero));

    const Vec3d underflow = normalize({1e-200, 0, 0});  // the squares vanish: magnitude 0
    EXPECT_EQ(underflow.x, inf);
    EXPECT_TRUE(std::isnan(underflow.y) && std::isnan(underflow.z));

    EXPECT_EQ(bits(normalize({1e200, 1e200, 0})), bits({0.0, 0.0, 0.0}));  // magnitude inf
}

class UnitMagnitude : public ::testing::TestWithParam<std::pair<double, bool>> {};

TEST_P(UnitMagnitude, OnlyOneAndTheDoubleJustBelowPass) {
    EXPECT_EQ(is_unit_magnitude(GetParam().first), GetParam().second) << GetParam().first;
}

INSTANTIATE_TEST_SUITE_P(Boundaries, UnitMagnitude,
                         ::testing::Values(std::pair{1.0, true}, std::pair{1.0 - 0x1p-53, true},
                                           std::pair{1.0 + 0x1p-52, false}, std::pair{1.0 - 0x1p-52, false},
                                           std::pair{nan, false}, std::pair{inf, false}));

TEST(Vec3d, LinesAndPlanes) {
    EXPECT_EQ(distance_to_line({1, 2, 3}, {0, 0, 0}, {1, 0, 0}), 3.605551275463989);
    EXPECT_TRUE(std::isnan(distance_to_line({1, 2, 3}, {1, 1, 1}, {1, 1, 1})));
    EXPECT_EQ(bits(project_onto_line({1, 2, 3}, {0, 0, 0}, {2, 0, 0})), bits({1.0, 0.0, 0.0}));
    EXPECT_EQ(bits(project_onto_plane({1, 2, 3}, {0, 0, 1})), bits({1.0, 2.0, 0.0}));
    // the normal is used as given: a normal of length 2 over-subtracts
    EXPECT_EQ(bits(project_onto_plane({1, 2, 3}, {0, 0, 2})), bits({1.0, 2.0, -9.0}));
}

class Vec3dTolerance : public ::testing::TestWithParam<int> {};

// Each component is compared: a difference of exactly epsilon in any one fails, less passes.
TEST_P(Vec3dTolerance, StrictAbsoluteEpsilonPerComponent) {
    Vec3d exact_gap = Vec3d::zero(), small_gap = Vec3d::zero();
    double* gapped[] = {&exact_gap.x, &exact_gap.y, &exact_gap.z};
    double* close[] = {&small_gap.x, &small_gap.y, &small_gap.z};
    *gapped[GetParam()] = epsilon;
    *close[GetParam()] = 2e-16;
    EXPECT_FALSE(Vec3d::zero() == exact_gap);
    EXPECT_TRUE(Vec3d::zero() != exact_gap);
    EXPECT_TRUE(Vec3d::zero() == small_gap);
}

INSTANTIATE_TEST_SUITE_P(EachComponent, Vec3dTolerance, ::testing::Values(0, 1, 2));

TEST(Vec3d, NanAndInfinityAreNotEqualToThemselves) {
    const Vec3d with_nan{0, nan, 0};
    const Vec3d with_inf{inf, 0, 0};
    EXPECT_FALSE(with_nan == with_nan);
    EXPECT_FALSE(with_inf == with_inf);  // inf - inf is NaN
}

TEST(Vec3d, ComponentOutOfRangeIsAnInternalFailure) {
    const Vec3d v{1, 2, 3};
    EXPECT_EQ(component(v, 2), 3.0);
    try {
        (void)component(v, 3);
        FAIL() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "Index out of bounds");
    }
}

}  // namespace
}  // namespace quorvane::core
