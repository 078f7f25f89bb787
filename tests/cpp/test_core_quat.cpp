// Quaternion rotations, bit for bit where the values are quoted, including the signed zeros
// and NaNs that only the zero-scalar terms of `rotate` produce.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/quat.hpp"

namespace quorvane::core {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::nan("");

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }
std::array<std::uint64_t, 3> bits(const Vec3d& v) { return {bits(v.x), bits(v.y), bits(v.z)}; }
std::array<std::uint64_t, 4> bits(const Quat& q) { return {bits(q.w), bits(q.i), bits(q.j), bits(q.k)}; }

bool all_nan(const Vec3d& v) { return std::isnan(v.x) && std::isnan(v.y) && std::isnan(v.z); }

const Quat quarter_turn_about_z = Quat::from_axis_angle({0, 0, 1}, AngleRadians::half_pi());

TEST(QuatFromAxisAngle, QuarterTurnAboutZ) {
    EXPECT_EQ(bits(quarter_turn_about_z), bits(Quat{0.7071067811865476, -0.0, -0.0, -0.7071067811865475}));
    EXPECT_EQ(magnitude(quarter_turn_about_z), 1.0);
    EXPECT_TRUE(is_unit(quarter_turn_about_z));
}

TEST(QuatToRotationMatrix, QuarterTurnAboutZ) {
    const RotationMatrix m = to_rotation_matrix(quarter_turn_about_z);
    const RotationMatrix expected{{{2.220446049250313e-16, 1.0, 0.0}, {-1.0, 2.220446049250313e-16, 0.0}, {0.0, 0.0, 1.0}}};
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            EXPECT_EQ(bits(m[row][col]), bits(expected[row][col])) << row << "," << col;
}

// For a unit quaternion the matrix is the transpose of what `rotate` applies.
TEST(QuatToRotationMatrix, TransposeAppliesTheRotation) {
    const Quat q = normalize(Quat{0.3, -0.5, 0.7, 0.2});
    const RotationMatrix m = to_rotation_matrix(q);
    const Vec3d v{1.5, -2.0, 0.25};
    const Vec3d rotated = rotate(q, v);
    const double by_matrix[3] = {m[0][0] * v.x + m[1][0] * v.y + m[2][0] * v.z,
                                 m[0][1] * v.x + m[1][1] * v.y + m[2][1] * v.z,
                                 m[0][2] * v.x + m[1][2] * v.y + m[2][2] * v.z};
    EXPECT_NEAR(rotated.x, by_matrix[0], 1e-14);
    EXPECT_NEAR(rotated.y, by_matrix[1], 1e-14);
    EXPECT_NEAR(rotated.z, by_matrix[2], 1e-14);
}

struct Rotation {
    const char* name;
    Quat q;
    Vec3d v;
    Vec3d expected;
};

class QuatRotate : public ::testing::TestWithParam<Rotation> {};

TEST_P(QuatRotate, GivesTheQuotedBits) { EXPECT_EQ(bits(rotate(GetParam().q, GetParam().v)), bits(GetParam().expected)); }

INSTANTIATE_TEST_SUITE_P(
    Examples, QuatRotate,
    ::testing::Values(
        Rotation{"QuarterTurnAboutZ", quarter_turn_about_z, {1, 0, 0}, {2.220446049250313e-16, 1.0, 0.0}},
        Rotation{"QuarterTurnAboutY", Quat::from_axis_angle({0, 1, 0}, AngleRadians::half_pi()), {1, 0, 0},
                 {2.220446049250313e-16, 0.0, -1.0}},
        Rotation{"QuarterTurnAboutX", Quat::from_axis_angle({1, 0, 0}, AngleRadians::half_pi()), {0, 1, 0},
                 {0.0, 2.220446049250313e-16, 1.0}},
        Rotation{"IdentityKeepsFiniteValues", Quat::identity(), {1.5, -2.0, 3.25}, {1.5, -2.0, 3.25}},
        Rotation{"IdentityTurnsNegativeZerosPositive", Quat::identity(), {-0.0, -0.0, -0.0}, {0.0, 0.0, 0.0}},
        // Each of these half turns needs one of the terms w * 0.0, i * 0.0, j * 0.0, k * 0.0 of
        // the first stage; without it one zero of the result would come out negative.
        Rotation{"WZeroTermSignOfZero", Quat{0.0, 0.0, 1.0, -0.0}, {-0.0, -0.0, 1.0}, {0.0, 0.0, -1.0}},
        Rotation{"IZeroTermSignOfZero", Quat{0.0, -0.0, 0.0, -0.0}, {-0.0, 0.0, 1.0}, {0.0, 0.0, 0.0}},
        Rotation{"JZeroTermSignOfZero", Quat{0.0, 0.0, -1.0, 0.0}, {1.0, -0.0, -0.0}, {-1.0, 0.0, 0.0}},
        Rotation{"KZeroTermSignOfZero", Quat{0.0, 0.0, 0.0, -1.0}, {-0.0, 1.0, -0.0}, {0.0, -1.0, 0.0}},
        Rotation{"MagnitudeTwoScalesByFour", Quat{2, 0, 0, 0}, {1, 2, 3}, {4.0, 8.0, 12.0}}),
    [](const auto& info) { return std::string(info.param.name); });

// inf * 0.0 in the zero-scalar terms is what makes every component NaN here; dropping those
// terms would leave the first component +inf.
TEST(QuatRotate, ZeroScalarTermsCarryInfinityIntoNan) {
    EXPECT_TRUE(all_nan(rotate(Quat{0.0, inf, 1.0, 1.0}, {1, 1, 1})));
    EXPECT_TRUE(all_nan(rotate(Quat{1.0, 1.0, 1.0, inf}, {1, 1, 1})));
}

// A right-handed third of a turn about (1, 1, 1) cycles the axes x -> y -> z -> x.
TEST(QuatRotate, ThirdTurnAboutDiagonalCyclesAxes) {
    const Quat q = Quat::from_axis_angle(normalize(Vec3d{1, 1, 1}), AngleRadians::two_pi() / 3.0);
    const Vec3d images[3] = {rotate(q, Vec3d::i()), rotate(q, Vec3d::j()), rotate(q, Vec3d::k())};
    const Vec3d expected[3] = {Vec3d::j(), Vec3d::k(), Vec3d::i()};
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_NEAR(images[axis].x, expected[axis].x, 1e-15) << axis;
        EXPECT_NEAR(images[axis].y, expected[axis].y, 1e-15) << axis;
        EXPECT_NEAR(images[axis].z, expected[axis].z, 1e-15) << axis;
    }
}

struct Decomposition {
    const char* name;
    Quat q;
    Vec3d axis;
    double angle;
};

class QuatToAxisAngle : public ::testing::TestWithParam<Decomposition> {};

TEST_P(QuatToAxisAngle, GivesTheQuotedBits) {
    const AxisAngle result = to_axis_angle(GetParam().q);
    EXPECT_EQ(bits(result.axis), bits(GetParam().axis));
    EXPECT_EQ(bits(result.angle.angle), bits(GetParam().angle));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, QuatToAxisAngle,
    ::testing::Values(
        // from_axis_angle stores sin(-angle/2), so the axis comes back negated
        Decomposition{"QuarterTurnAboutZ", quarter_turn_about_z, {-0.0, -0.0, -1.0}, 1.5707963267948966},
        Decomposition{"Identity", Quat::identity(), {1.0, 0.0, 0.0}, 0.0},
        Decomposition{"JustBelowOneIsStillTheNullRotation", Quat{0.9999999999999999, 0.5, 0.5, 0.5}, {1.0, 0.0, 0.0}, 0.0},
        Decomposition{"TwoBelowOneTakesTheGeneralPath", Quat{0.9999999999999998, 0, 0, 0}, {0.0, 0.0, 0.0},
                      4.2146848510894035e-08},
        Decomposition{"Half", Quat{0.5, 0, 0, 0}, {0.0, 0.0, 0.0}, 2.0943951023931957},
        // sin(pi) is 1.2246467991473532e-16, not zero: no division by zero
        Decomposition{"MinusOne", Quat{-1.0, 0, 0, 0}, {0.0, 0.0, 0.0}, 6.283185307179586}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QuatToAxisAngle, ScalarAboveOneIsNanThroughout) {
    const AxisAngle result = to_axis_angle(Quat{1.0000000000000002, 0, 0, 0});
    EXPECT_TRUE(all_nan(result.axis));
    EXPECT_TRUE(std::isnan(result.angle.angle));
}

TEST(Quat, NormalizeOfZeroIsNanAndNotUnit) {
    const Quat n = normalize(Quat{0, 0, 0, 0});
    EXPECT_TRUE(std::isnan(n.w) && std::isnan(n.i) && std::isnan(n.j) && std::isnan(n.k));
    EXPECT_FALSE(is_unit(Quat{0, 0, 0, 0}));
}

TEST(Quat, NormalizeDividesEachComponent) {
    // magnitude exactly 5; 3.0 / 5.0 is 0.6, while 3.0 * (1.0 / 5.0) is 0.6000000000000001
    EXPECT_EQ(bits(normalize(Quat{0, 0, 3, 4})), bits(Quat{0.0, 0.0, 0.6, 0.8}));
}

TEST(Quat, ConjugateFlipsSignBits) {
    const double payload_nan = std::bit_cast<double>(std::uint64_t{0x7FF8000000000123});
    const Quat c = conjugate(Quat{-0.0, 0.0, -2.0, payload_nan});
    EXPECT_EQ(bits(c.w), bits(-0.0));
    EXPECT_EQ(bits(c.i), bits(-0.0));
    EXPECT_EQ(bits(c.j), bits(2.0));
    EXPECT_EQ(bits(c.k), 0xFFF8000000000123u);
}

class QuatTolerance : public ::testing::TestWithParam<int> {};

// Every component takes part, each with the strict absolute tolerance.
TEST_P(QuatTolerance, EachComponentWithinEpsilon) {
    Quat close = Quat::identity(), far = Quat::identity(), with_nan = Quat::identity();
    double Quat::*const member[] = {&Quat::w, &Quat::i, &Quat::j, &Quat::k};
    close.*member[GetParam()] += 1e-16;
    far.*member[GetParam()] += 3e-16;
    with_nan.*member[GetParam()] = nan;
    EXPECT_TRUE(Quat::identity() == close);
    EXPECT_FALSE(Quat::identity() == far);
    EXPECT_TRUE(Quat::identity() != far);
    EXPECT_FALSE(with_nan == with_nan);
}

INSTANTIATE_TEST_SUITE_P(EachComponent, QuatTolerance, ::testing::Values(0, 1, 2, 3));

TEST(Quat, VectorRoundTripHasPositiveZeroScalar) {
    const Quat q = to_quat({-0.0, 2.0, -0.0});
    EXPECT_EQ(bits(q.w), bits(0.0));
    EXPECT_EQ(bits(to_vec3d(q)), bits(Vec3d{-0.0, 2.0, -0.0}));
}

}  // namespace
}  // namespace quorvane::core
