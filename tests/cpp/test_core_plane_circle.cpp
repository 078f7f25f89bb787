// Planes and circles: construction, the coordinate planes, point tests, equality and
// coplanarity, with signed zeros and NaN bits checked where they are part of the result.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "core/circle.hpp"
#include "core/plane.hpp"

namespace quorvane::core {
namespace {

const double nan = std::nan("");

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }
std::array<std::uint64_t, 3> bits(const Vec3d& v) { return {bits(v.x), bits(v.y), bits(v.z)}; }

bool all_nan(const Vec3d& v) { return std::isnan(v.x) && std::isnan(v.y) && std::isnan(v.z); }

TEST(Plane, MakeNormalisesAndStoresTheNegatedDistance) {
    const Plane p = Plane::make({0, 0, 2}, 5.0);
    EXPECT_EQ(bits(p.normal), bits(Vec3d{0.0, 0.0, 1.0}));
    EXPECT_EQ(bits(p.distance), bits(-5.0));
    EXPECT_TRUE(contains_point(p, {0, 0, 5}));
    EXPECT_TRUE(contains_point(p, {7, -3, 5}));
    EXPECT_FALSE(contains_point(p, {0, 0, -5}));
    EXPECT_EQ(bits(Plane::make({0, 0, 1}, -0.0).distance), bits(0.0));
}

struct CoordinatePlane {
    const char* name;
    Plane plane;
    Vec3d normal;
    Vec3d inside;
    Vec3d outside;
};

class CoordinatePlanes : public ::testing::TestWithParam<CoordinatePlane> {};

// Each is what `make` gives for its unit normal and 0.0, so the stored distance is -0.0.
TEST_P(CoordinatePlanes, UnitNormalAndNegativeZeroDistance) {
    const CoordinatePlane& c = GetParam();
    EXPECT_EQ(bits(c.plane.normal), bits(c.normal));
    EXPECT_EQ(bits(c.plane.distance), bits(-0.0));
    EXPECT_TRUE(contains_point(c.plane, c.inside));
    EXPECT_FALSE(contains_point(c.plane, c.outside));
}

INSTANTIATE_TEST_SUITE_P(
    All, CoordinatePlanes,
    ::testing::Values(CoordinatePlane{"xy", Plane::xy(), {0.0, 0.0, 1.0}, {3, 4, 0}, {0, 0, 1}},
                      CoordinatePlane{"xz", Plane::xz(), {0.0, 1.0, 0.0}, {3, 0, 4}, {0, 1, 0}},
                      CoordinatePlane{"yz", Plane::yz(), {1.0, 0.0, 0.0}, {0, 3, 4}, {1, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Plane, FromPoint) {
    const Plane p = Plane::from_point({0, 0, 1}, {1, 2, 3});
    EXPECT_EQ(bits(p.normal), bits(Vec3d{0.0, 0.0, 1.0}));
    EXPECT_EQ(bits(p.distance), bits(-3.0));
    EXPECT_EQ(bits(Plane::from_point({0, 0, 2}, {0, 0, 0}).distance), bits(-0.0));
}

TEST(Plane, FromPointsFollowsTheOrderOfThePoints) {
    const Plane counter_clockwise = Plane::from_points({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    EXPECT_EQ(bits(counter_clockwise.normal), bits(Vec3d{0.0, 0.0, 1.0}));
    EXPECT_EQ(bits(counter_clockwise.distance), bits(-0.0));
    const Plane clockwise = Plane::from_points({0, 0, 0}, {0, 1, 0}, {1, 0, 0});
    EXPECT_EQ(bits(clockwise.normal), bits(Vec3d{0.0, 0.0, -1.0}));

    const Plane shifted = Plane::from_points({0, 0, 2}, {1, 0, 2}, {0, 1, 2});
    EXPECT_EQ(bits(shifted.distance), bits(-2.0));
    EXPECT_EQ(bits(Plane::from_points({0, 0, 2}, {0, 1, 2}, {1, 0, 2}).distance), bits(2.0));
}

TEST(Plane, FromCollinearPointsIsNan) {
    const Plane p = Plane::from_points({0, 0, 0}, {1, 1, 1}, {2, 2, 2});
    EXPECT_TRUE(all_nan(p.normal));
    EXPECT_TRUE(std::isnan(p.distance));
    EXPECT_FALSE(contains_point(p, {0, 0, 0}));
}

TEST(Plane, DistanceToPointIsUnsigned) {
    EXPECT_EQ(distance_to_point(Plane::xy(), {1, 2, -3}), 3.0);
    EXPECT_EQ(distance_to_point(Plane::xy(), {1, 2, 3}), 3.0);
}

// A normal written into the fields is used as it is, never re-normalised.
TEST(Plane, StoredNormalIsUsedUnchanged) {
    const Plane p{{0, 0, 2}, 0.0};
    EXPECT_EQ(distance_to_point(p, {0, 0, 3}), 6.0);
    EXPECT_FALSE(contains_point(p, {0, 0, 1.5e-16}));  // s = 3e-16, not below epsilon
    EXPECT_TRUE(contains_point(Plane::xy(), {0, 0, 1.5e-16}));
    EXPECT_FALSE(contains_point(Plane::xy(), {0, 0, epsilon}));  // strict: exactly epsilon fails
}

TEST(Circle, MakeClearsTheRadiusSignAndNormalises) {
    const Circle c = Circle::make({1, 2, 3}, -2.0, {0, 0, 5});
    EXPECT_EQ(bits(c.center), bits(Vec3d{1.0, 2.0, 3.0}));
    EXPECT_EQ(bits(c.radius), bits(2.0));
    EXPECT_EQ(bits(c.normal), bits(Vec3d{0.0, 0.0, 1.0}));
    EXPECT_EQ(bits(area(c)), bits(12.566370614359172));
    EXPECT_EQ(bits(area(Circle::make({0, 0, 0}, 1.0, {0, 0, 1}))), bits(3.141592653589793));
    EXPECT_EQ(bits(Circle::make({0, 0, 0}, -0.0, {0, 0, 1}).radius), bits(0.0));
}

TEST(Circle, NoneHasExactBits) {
    const Circle none = Circle::none();
    EXPECT_EQ(bits(none.center), bits(Vec3d{0.0, 0.0, 0.0}));
    EXPECT_EQ(bits(none.radius), bits(0.0));
    const std::array<std::uint64_t, 3> quiet_nans{0x7FF8000000000000u, 0x7FF8000000000000u, 0x7FF8000000000000u};
    EXPECT_EQ(bits(none.normal), quiet_nans);
}

TEST(Circle, Degeneracy) {
    EXPECT_TRUE(is_degenerate(Circle::none()));
    Circle c = Circle::make({0, 0, 0}, 1.0, {0, 0, 1});
    EXPECT_FALSE(is_degenerate(c));
    c.radius = -0.0;
    EXPECT_TRUE(is_degenerate(c));
    c.radius = nan;
    EXPECT_FALSE(is_degenerate(c));
    c.radius = -1.0;  // a radius written after construction keeps its sign
    EXPECT_FALSE(is_degenerate(c));
    EXPECT_EQ(area(c), 3.141592653589793);
}

TEST(Circle, GetPlaneNormalisesTheStoredNormal) {
    Circle c = Circle::make({0, 0, 4}, 1.0, {0, 0, 1});
    c.normal = {0, 0, 2};
    const Plane p = get_plane(c);
    EXPECT_EQ(bits(p.normal), bits(Vec3d{0.0, 0.0, 1.0}));
    EXPECT_EQ(bits(p.distance), bits(-4.0));
}

struct CirclePair {
    const char* name;
    Circle a;
    Circle b;
    bool expected;
};

std::string pair_name(const ::testing::TestParamInfo<CirclePair>& info) { return info.param.name; }

const Circle unit_circle = Circle::make({0, 0, 0}, 1.0, {0, 0, 1});

class CircleEquality : public ::testing::TestWithParam<CirclePair> {};

TEST_P(CircleEquality, ToleranceOnCentresExactRadiiEitherNormal) {
    const CirclePair& c = GetParam();
    EXPECT_EQ(c.a == c.b, c.expected);
    EXPECT_EQ(c.a != c.b, !c.expected);
    EXPECT_EQ(c.b == c.a, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CircleEquality,
    ::testing::Values(CirclePair{"Itself", unit_circle, unit_circle, true},
                      CirclePair{"ReversedNormal", unit_circle, Circle::make({0, 0, 0}, 1.0, {0, 0, -1}), true},
                      CirclePair{"CentreWithinEpsilon", unit_circle, Circle::make({1e-17, 0, 0}, 1.0, {0, 0, 1}), true},
                      CirclePair{"CentreAtEpsilon", unit_circle, Circle::make({0, 0, epsilon}, 1.0, {0, 0, 1}), false},
                      CirclePair{"RadiiOneUlpApart", unit_circle, Circle::make({0, 0, 0}, 1.0000000000000002, {0, 0, 1}), false},
                      // radii compare exactly even where their gap is far below epsilon
                      CirclePair{"SmallRadiiOneUlpApart", Circle::make({0, 0, 0}, 0.1, {0, 0, 1}),
                                 Circle::make({0, 0, 0}, std::nextafter(0.1, 1.0), {0, 0, 1}), false},
                      CirclePair{"OtherNormal", unit_circle, Circle::make({0, 0, 0}, 1.0, {0, 1, 0}), false},
                      CirclePair{"NoneWithItself", Circle::none(), Circle::none(), false}),
    pair_name);

class CircleSamePlane : public ::testing::TestWithParam<CirclePair> {};

TEST_P(CircleSamePlane, ComparesOffsetsForEqualOrOppositeNormals) {
    EXPECT_EQ(in_same_plane(GetParam().a, GetParam().b), GetParam().expected);
}

const Circle up_at_one = Circle::make({0, 0, 1}, 1.0, {0, 0, 1});

// With opposite normals the same plane has offsets n . c of opposite sign: z = 1 gives +1
// seen along +z and -1 seen along -z.
INSTANTIATE_TEST_SUITE_P(
    Cases, CircleSamePlane,
    ::testing::Values(CirclePair{"SamePlaneSameNormal", up_at_one, Circle::make({5, 5, 1}, 2.0, {0, 0, 1}), true},
                      CirclePair{"ParallelPlanes", up_at_one, Circle::make({0, 0, 2}, 1.0, {0, 0, 1}), false},
                      CirclePair{"SamePlaneOppositeNormal", up_at_one, Circle::make({5, 5, 1}, 2.0, {0, 0, -1}), true},
                      CirclePair{"OppositeNormalFirst", Circle::make({5, 5, 1}, 2.0, {0, 0, -1}), up_at_one, true},
                      CirclePair{"MirroredPlaneOppositeNormal", up_at_one, Circle::make({0, 0, -1}, 1.0, {0, 0, -1}), false},
                      CirclePair{"ThroughOriginOppositeNormal", Circle::make({1, 0, 0}, 1.0, {0, 0, 1}),
                                 Circle::make({0, 3, 0}, 1.0, {0, 0, -1}), true},
                      CirclePair{"CrossingPlanes", Circle::make({0, 0, 0}, 1.0, {0, 1, 0}), unit_circle, false},
                      CirclePair{"NoneWithItself", Circle::none(), Circle::none(), false}),
    pair_name);

}  // namespace
}  // namespace quorvane::core
