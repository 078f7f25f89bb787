// The rotation algebra of the core: the cases where a naive formula divides by zero or loses the
// answer (half turns, equal and opposite inputs, gimbal lock, vectors at the ends of the range).
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

#include "core/quat_algebra.hpp"

namespace quorvane::core {
namespace {

bool finite(const Quat& q) { return std::isfinite(q.w) && std::isfinite(q.i) && std::isfinite(q.j) && std::isfinite(q.k); }

double distance(const Vec3d& a, const Vec3d& b) { return magnitude(a - b); }

TEST(QuatEulerSequence, TwentyFourSequencesAndNothingElse) {
    int accepted = 0;
    for (const char* letters : {"xyz", "XYZ"}) {
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b)
                for (int c = 0; c < 3; ++c) {
                    const std::string text{letters[a], letters[b], letters[c]};
                    const auto parsed = parse_euler_sequence(text);
                    EXPECT_EQ(parsed.has_value(), a != b && b != c) << text;
                    if (parsed) {
                        ++accepted;
                        EXPECT_EQ(parsed->intrinsic, letters[0] == 'X');
                        EXPECT_EQ(parsed->axes[0], a);
                    }
                }
    }
    EXPECT_EQ(accepted, 24);
    for (const char* refused : {"", "xy", "xyzx", "xYz", "Xyz", "xyw", "XY{", "xy\0"})
        EXPECT_FALSE(parse_euler_sequence(refused).has_value()) << refused;
    EXPECT_FALSE(parse_euler_sequence(std::string_view("xy\0", 3)).has_value());
}

TEST(QuatFromRotationMatrix, HalfTurnsComeBackExactly) {
    for (const Quat q : {Quat{0, 1, 0, 0}, Quat{0, 0, 1, 0}, Quat{0, 0, 0, 1}, Quat{1, 0, 0, 0}}) {
        const Quat back = from_rotation_matrix(to_rotation_matrix(q));
        EXPECT_EQ(back.w, q.w);
        EXPECT_EQ(back.i, q.i);
        EXPECT_EQ(back.j, q.j);
        EXPECT_EQ(back.k, q.k);
    }
}

TEST(QuatToEuler, GimbalLockPutsTheLastAngleAtZero) {
    const double s = 0.7071067811865476;
    // A quarter turn about y, the middle axis of "xyz": the first and third axes line up.
    const EulerAngles extrinsic = to_euler(from_active(s, 0.0, s, 0.0), *parse_euler_sequence("xyz"));
    EXPECT_EQ(extrinsic.b.angle, std::numbers::pi / 2.0);
    EXPECT_EQ(extrinsic.c.angle, 0.0);
    const EulerAngles intrinsic = to_euler(Quat::identity(), *parse_euler_sequence("ZXZ"));
    EXPECT_EQ(intrinsic.b.angle, 0.0);
    EXPECT_EQ(intrinsic.c.angle, 0.0);
}

TEST(QuatSlerp, EqualAndOppositeInputsStayFinite) {
    const Quat q = normalize(Quat{0.5, -0.25, 0.75, 0.1});
    for (double t : {0.0, 0.3, 1.0}) {
        EXPECT_TRUE(finite(slerp(q, q, t)));
        EXPECT_TRUE(finite(slerp(q, Quat{-q.w, -q.i, -q.j, -q.k}, t)));
        EXPECT_NEAR(magnitude(slerp(q, q, t)), 1.0, 1e-15);
    }
}

TEST(QuatRotationBetween, ExtremeAndOppositeVectors) {
    const Vec3d cases[][2] = {
        {{1e-310, 0, 0}, {0, 1e-310, 0}},
        {{1e308, 1e308, -1e308}, {-1e308, 0, 0}},
        {{1, 2, 3}, {-1, -2, -3}},
        {{0, 0, 5}, {0, 0, -1e-300}},
        {{1, 2, 3}, {2, 4, 6}},
    };
    for (const auto& [a, b] : cases) {
        const Quat q = rotation_between(a, b);
        ASSERT_TRUE(finite(q));
        EXPECT_NEAR(magnitude(q), 1.0, 1e-15);
        const Vec3d u = normalize(a / std::fmax(std::fabs(a.x), std::fmax(std::fabs(a.y), std::fabs(a.z))));
        const Vec3d v = normalize(b / std::fmax(std::fabs(b.x), std::fmax(std::fabs(b.y), std::fabs(b.z))));
        EXPECT_LT(distance(rotate(q, u), v), 1e-15);
    }
}

}  // namespace
}  // namespace quorvane::core
