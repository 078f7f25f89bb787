// Circle-circle crossings, point-on-circle tests and line-plane meeting points, including the
// failure kinds, their order and their texts.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <variant>

#include "core/intersection.hpp"

namespace quorvane::core {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }
std::array<std::uint64_t, 3> bits(const Vec3d& v) { return {bits(v.x), bits(v.y), bits(v.z)}; }

bool all_nan(const Vec3d& v) { return std::isnan(v.x) && std::isnan(v.y) && std::isnan(v.z); }

template <typename Param>
std::string name_of(const ::testing::TestParamInfo<Param>& info) { return info.param.name; }

using Points = std::pair<Vec3d, Vec3d>;

constexpr Vec3d up{0, 0, 1};
constexpr Vec3d down{0, 0, -1};

TEST(IntersectionError, Texts) {
    EXPECT_EQ(error_text(IntersectionError::TooFarApart),
              "The given geometries are too far apart and do not intersect at all.");
    EXPECT_EQ(error_text(IntersectionError::Contained),
              "One of the given geometries is contained entirely within the other. The surfaces do not intersect.");
    EXPECT_EQ(error_text(IntersectionError::Identical), "The given geometries are identical.");
    EXPECT_EQ(error_text(IntersectionError::OutOfPlane), "The given geometries are out of plane from each other");
    static_assert(sizeof(IntersectionError) == 1);
}

struct Crossing {
    const char* name;
    Circle circle1;
    Circle circle2;
    Vec3d first;
    Vec3d second;
};

class CircleCircleCrossing : public ::testing::TestWithParam<Crossing> {};

TEST_P(CircleCircleCrossing, GivesBothPointsInOrder) {
    const auto result = circle_circle(GetParam().circle1, GetParam().circle2);
    ASSERT_TRUE(std::holds_alternative<Points>(result))
        << error_text(std::get<IntersectionError>(result));
    const auto& [first, second] = std::get<Points>(result);
    EXPECT_EQ(bits(first), bits(GetParam().first));
    EXPECT_EQ(bits(second), bits(GetParam().second));
}

// The order of the points follows circle2's normal, so swapping the circles, or reversing
// circle2's normal, swaps them; circle1's normal does not take part.
INSTANTIATE_TEST_SUITE_P(
    Examples, CircleCircleCrossing,
    ::testing::Values(
        Crossing{"UnitCircles", Circle::make({0, 0, 0}, 1, up), Circle::make({1, 0, 0}, 1, up),
                 {0.5, -0.8660254037844386, 0.0}, {0.5, 0.8660254037844386, 0.0}},
        Crossing{"UnitCirclesSwapped", Circle::make({1, 0, 0}, 1, up), Circle::make({0, 0, 0}, 1, up),
                 {0.5, 0.8660254037844386, 0.0}, {0.5, -0.8660254037844386, 0.0}},
        Crossing{"ThreeFourFive", Circle::make({0, 0, 0}, 5, up), Circle::make({8, 0, 0}, 5, up),
                 {4.0, -3.0, 0.0}, {4.0, 3.0, 0.0}},
        Crossing{"TouchingOutside", Circle::make({0, 0, 0}, 1, up), Circle::make({2, 0, 0}, 1, up),
                 {1.0, 0.0, 0.0}, {1.0, 0.0, 0.0}},
        // w equals |r1 - r2| exactly, which is not strictly less: tangent, not contained
        Crossing{"TouchingInside", Circle::make({0, 0, 0}, 2, up), Circle::make({1, 0, 0}, 1, up),
                 {2.0, 0.0, 0.0}, {2.0, 0.0, 0.0}},
        Crossing{"SecondNormalReversed", Circle::make({0, 0, 1}, 1, up), Circle::make({1, 0, 1}, 1, down),
                 {0.5, 0.8660254037844386, 1.0}, {0.5, -0.8660254037844386, 1.0}},
        Crossing{"FirstNormalReversed", Circle::make({0, 0, 1}, 1, down), Circle::make({1, 0, 1}, 1, up),
                 {0.5, -0.8660254037844386, 1.0}, {0.5, 0.8660254037844386, 1.0}},
        Crossing{"BothNormalsDown", Circle::make({0, 0, -1}, 1, down), Circle::make({1, 0, -1}, 1, down),
                 {0.5, 0.8660254037844386, -1.0}, {0.5, -0.8660254037844386, -1.0}},
        // the plane x = 2, seen along +x by one circle and along -x by the other
        Crossing{"OppositeNormalsInPlaneXEqualsTwo", Circle::make({2, 0, 0}, 1, {1, 0, 0}),
                 Circle::make({2, 1, 0}, 1, {-1, 0, 0}), {2.0, 0.5, 0.8660254037844386},
                 {2.0, 0.5, -0.8660254037844386}}),
    name_of<Crossing>);

// w equals r1 + r2 in doubles, so the distance tests pass, but the chord's radicand rounds to
// -3.469446951953614e-18 and nothing clamps it.
TEST(CircleCircle, NegativeRadicandGivesNanPoints) {
    const auto result = circle_circle(Circle::make({0, 0, 0}, 0.1, up), Circle::make({0.30000000000000004, 0, 0}, 0.2, up));
    ASSERT_TRUE(std::holds_alternative<Points>(result));
    const auto& [first, second] = std::get<Points>(result);
    EXPECT_TRUE(all_nan(first));
    EXPECT_TRUE(all_nan(second));
}

struct Refusal {
    const char* name;
    Circle circle1;
    Circle circle2;
    IntersectionError expected;
};

class CircleCircleRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(CircleCircleRefusal, ReportsTheFirstFailingTest) {
    const auto result = circle_circle(GetParam().circle1, GetParam().circle2);
    ASSERT_TRUE(std::holds_alternative<IntersectionError>(result));
    EXPECT_EQ(std::get<IntersectionError>(result), GetParam().expected) << error_text(std::get<IntersectionError>(result));
}

const Circle unit_circle = Circle::make({0, 0, 0}, 1, up);

INSTANTIATE_TEST_SUITE_P(
    Examples, CircleCircleRefusal,
    ::testing::Values(
        Refusal{"TooFarApart", unit_circle, Circle::make({3, 0, 0}, 1, up), IntersectionError::TooFarApart},
        Refusal{"Contained", Circle::make({0, 0, 0}, 3, up), Circle::make({0.5, 0, 0}, 1, up), IntersectionError::Contained},
        Refusal{"ContainedConcentric", Circle::make({0, 0, 0}, 3, up), unit_circle, IntersectionError::Contained},
        Refusal{"Identical", unit_circle, unit_circle, IntersectionError::Identical},
        Refusal{"IdenticalWithReversedNormal", unit_circle, Circle::make({0, 0, 0}, 1, down), IntersectionError::Identical},
        Refusal{"CrossingPlanes", unit_circle, Circle::make({1, 0, 0}, 1, {0, 1, 0}), IntersectionError::OutOfPlane},
        Refusal{"ParallelPlanes", unit_circle, Circle::make({1, 0, 1}, 1, up), IntersectionError::OutOfPlane},
        // z = 1 and z = -1 with opposite normals have equal offsets n . c; they must still differ
        Refusal{"MirroredPlanesOppositeNormals", Circle::make({0, 0, 1}, 1, up), Circle::make({1, 0, -1}, 1, down),
                IntersectionError::OutOfPlane},
        // the plane test comes before the distance tests
        Refusal{"OutOfPlaneBeforeTooFar", unit_circle, Circle::make({10, 0, 5}, 1, up), IntersectionError::OutOfPlane},
        Refusal{"TwoNoneCircles", Circle::none(), Circle::none(), IntersectionError::OutOfPlane},
        Refusal{"NoneAndUnit", Circle::none(), unit_circle, IntersectionError::OutOfPlane}),
    name_of<Refusal>);

struct PointCase {
    const char* name;
    Circle circle;
    Vec3d point;
    bool inner;
    std::optional<IntersectionError> checked;
    bool unchecked;
};

class CirclePoint : public ::testing::TestWithParam<PointCase> {};

TEST_P(CirclePoint, CheckedAndUnchecked) {
    const PointCase& c = GetParam();
    EXPECT_EQ(circle_point(c.circle, c.point, c.inner), c.checked);
    EXPECT_EQ(circle_point_unchecked(c.circle, c.point, c.inner), c.unchecked);
}

const Circle radius_two = Circle::make({0, 0, 0}, 2, up);
constexpr std::optional<IntersectionError> success = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Examples, CirclePoint,
    ::testing::Values(
        PointCase{"OnCircle", radius_two, {2, 0, 0}, false, success, true},
        PointCase{"OnCircleInner", radius_two, {2, 0, 0}, true, success, true},
        PointCase{"OnDiagonal", radius_two, {1.4142135623730951, 1.4142135623730951, 0}, false, success, true},
        PointCase{"OnDiagonalInner", radius_two, {1.4142135623730951, 1.4142135623730951, 0}, true, success, true},
        PointCase{"InsideRefused", radius_two, {1, 0, 0}, false, IntersectionError::Contained, false},
        PointCase{"InsideAccepted", radius_two, {1, 0, 0}, true, success, true},
        PointCase{"Outside", radius_two, {3, 0, 0}, false, IntersectionError::TooFarApart, false},
        PointCase{"OutsideInner", radius_two, {3, 0, 0}, true, IntersectionError::TooFarApart, false},
        // off the plane: only the unchecked test judges by distance alone
        PointCase{"AbovePlane", radius_two, {1, 0, 1}, false, IntersectionError::OutOfPlane, false},
        PointCase{"AbovePlaneInner", radius_two, {1, 0, 1}, true, IntersectionError::OutOfPlane, true},
        // l is exactly epsilon: neither on the circle (strict) nor inside (strict)
        PointCase{"JustOutsideTolerance", Circle::make({0, 0, 0}, 1.0000000000000002, up), {1, 0, 0}, true,
                  IntersectionError::TooFarApart, false},
        // the plane test normalises a stored normal of length 2: 1.5e-16 off the plane passes
        PointCase{"StoredNormalIsNormalised", Circle{{0, 0, 0}, 2, {0, 0, 2}}, {2, 0, 1.5e-16}, false, success, true},
        PointCase{"NoneCircle", Circle::none(), {0, 0, 0}, false, IntersectionError::OutOfPlane, true}),
    name_of<PointCase>);

struct LineCase {
    const char* name;
    Plane plane;
    Vec3d a;
    Vec3d b;
    Vec3d expected;
};

class PlaneLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(PlaneLine, MeetsTheInfiniteLine) {
    const LineCase& c = GetParam();
    const Vec3d result = plane_line(c.plane, c.a, c.b);
    if (std::isnan(c.expected.y)) {  // the parallel case: compare NaNs by kind, not payload
        EXPECT_EQ(result.x, c.expected.x);
        EXPECT_TRUE(std::isnan(result.y) && std::isnan(result.z));
    } else {
        EXPECT_EQ(bits(result), bits(c.expected));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Examples, PlaneLine,
    ::testing::Values(LineCase{"ThroughOrigin", Plane::xy(), {0, 0, 1}, {0, 0, -1}, {0.0, 0.0, 0.0}},
                      LineCase{"BeyondTheSegment", Plane::xy(), {1, 2, 3}, {1, 2, 4}, {1.0, 2.0, 0.0}},
                      LineCase{"PlaneZEqualsFive", Plane{{0, 0, 1}, -5.0}, {1, 2, 0}, {1, 2, 1}, {1.0, 2.0, 5.0}},
                      // the stored normal of length 2 with distance -10 is still z = 5
                      LineCase{"StoredNormalUnnormalised", Plane{{0, 0, 2}, -10.0}, {1, 2, 1}, {1, 2, 2}, {1.0, 2.0, 5.0}},
                      LineCase{"ParallelToPlane", Plane::xy(), {0, 0, 1}, {1, 0, 1}, {-inf, std::nan(""), std::nan("")}}),
    name_of<LineCase>);

TEST(PlaneLineDegenerate, EqualPointsGiveNan) { EXPECT_TRUE(all_nan(plane_line(Plane::xy(), {0, 0, 1}, {0, 0, 1}))); }

}  // namespace
}  // namespace quorvane::core
