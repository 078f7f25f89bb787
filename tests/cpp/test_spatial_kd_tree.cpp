// The k-d tree against a plain scan of every point, on clouds chosen to break pruning and ties.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "core/vec3d.hpp"
#include "src/spatial/kd_tree.hpp"
#include "src/pool/pool.hpp"

namespace quorvane::spatial {
namespace {

using core::Vec3d;

std::vector<Neighbour> scan_k_nearest(const std::vector<Vec3d>& points, const Vec3d& query, std::size_t k) {
    std::vector<Neighbour> all;
    for (std::size_t i = 0; i < points.size(); ++i) all.push_back({i, core::distance_to(points[i], query)});
    std::stable_sort(all.begin(), all.end(), [](const Neighbour& a, const Neighbour& b) { return a.distance < b.distance; });
    all.resize(k);
    return all;
}

struct Cloud {
    std::string name;
    std::vector<Vec3d> points;
};

void PrintTo(const Cloud& cloud, std::ostream* out) { *out << cloud.name; }

std::vector<Cloud> clouds() {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> small(0, 3);
    Cloud uniform{"uniform", {}}, duplicates{"duplicates", {}}, grid{"grid", {}}, line{"line", {}}, huge{"huge", {}};
    for (int i = 0; i < 3000; ++i) uniform.points.push_back({unit(random), unit(random), unit(random)});
    for (int i = 0; i < 2000; ++i) duplicates.points.push_back({double(small(random)), double(small(random)), 0.0});
    for (int x = 0; x < 12; ++x)
        for (int y = 0; y < 12; ++y)
            for (int z = 0; z < 12; ++z) grid.points.push_back({double(x), double(y), double(z)});
    for (int i = 0; i < 500; ++i) line.points.push_back({double(i % 37), 0.0, 0.0});
    for (int i = 0; i < 500; ++i) huge.points.push_back({unit(random) * 1e300, unit(random) * 1e300, 5e-324 * i});
    // Already ordered and reverse-ordered keys, runs of equal ones among them: the selection's
    // partition meets its fewest and its most out-of-place items.
    Cloud ascending{"ascending", {}}, descending{"descending", {}};
    for (int i = 0; i < 5000; ++i) ascending.points.push_back({double(i / 3), double(i % 7), 0.5 * double(i / 50)});
    descending.points.assign(ascending.points.rbegin(), ascending.points.rend());
    return {uniform, duplicates, grid, line, huge, ascending, descending, {"one", {{1.0, 2.0, 3.0}}}};
}

std::vector<Vec3d> queries() {
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> wide(-15.0, 15.0);
    std::vector<Vec3d> out{{0.5, 0.5, 0.5}, {1e300, -1e300, 0.0}, {1e6, 1e6, 1e6}, {0.0, 0.0, 0.0}};
    for (int i = 0; i < 60; ++i) out.push_back({wide(random), wide(random), std::round(wide(random))});
    return out;
}

void run_serial(std::size_t n, auto&& f) { f(std::size_t{0}, n); }

class KdTreeAgainstScan : public ::testing::TestWithParam<Cloud> {};

TEST_P(KdTreeAgainstScan, NearestAndKNearestMatchAScanBitForBit) {
    const auto& points = GetParam().points;
    const KdTree tree = KdTree::build(points, [](std::size_t n, auto&& f) { pool::run_for(n, f); });
    for (const Vec3d& query : queries()) {
        const std::size_t k = std::min<std::size_t>(points.size(), 9);
        const auto expected = scan_k_nearest(points, query, k);
        const Neighbour found = tree.nearest(query);
        EXPECT_EQ(found.index, expected[0].index);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(found.distance), std::bit_cast<std::uint64_t>(expected[0].distance));
        std::vector<Neighbour> k_found(k);
        tree.k_nearest(query, k_found);
        for (std::size_t j = 0; j < k; ++j) {
            EXPECT_EQ(k_found[j].index, expected[j].index) << j;
            EXPECT_EQ(k_found[j].distance, expected[j].distance) << j;
        }
    }
}

TEST_P(KdTreeAgainstScan, RadiusSearchesMatchAScanOnTheBoundary) {
    const auto& points = GetParam().points;
    const KdTree tree = KdTree::build(points, [](std::size_t n, auto&& f) { run_serial(n, f); });
    for (const Vec3d& query : queries()) {
        // Radii equal to actual distances put points exactly on the sphere.
        for (std::size_t pick : {std::size_t{0}, points.size() / 2, points.size() - 1}) {
            const double radius = core::distance_to(points[pick], query);
            std::vector<std::uint32_t> expected;
            for (std::size_t i = 0; i < points.size(); ++i)
                if (core::distance_to(points[i], query) <= radius) expected.push_back(static_cast<std::uint32_t>(i));
            EXPECT_EQ(tree.within(query, radius), expected);
            EXPECT_EQ(tree.count_within(query, radius), expected.size());
        }
    }
}

TEST_P(KdTreeAgainstScan, EveryPointFindsItsFirstEqualPoint) {
    const auto& points = GetParam().points;
    const KdTree tree = KdTree::build(points, [](std::size_t n, auto&& f) { run_serial(n, f); });
    std::vector<std::size_t> first_equal(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        first_equal[i] = i;
        for (std::size_t j = 0; j < i; ++j) {
            if (points[j].x == points[i].x && points[j].y == points[i].y && points[j].z == points[i].z) {
                first_equal[i] = j;
                break;
            }
        }
    }
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Neighbour found = tree.nearest(points[i]);
        ASSERT_EQ(found.index, first_equal[i]) << i;
        ASSERT_EQ(found.distance, 0.0) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Clouds, KdTreeAgainstScan, ::testing::ValuesIn(clouds()),
                         [](const auto& info) { return info.param.name; });

TEST(KdTree, ExtraMemoryStaysUnderHalfThePoints) {
    for (std::size_t n : {1, 7, 9, 1000, 100001}) {
        std::vector<Vec3d> points(n, Vec3d{1.0, 2.0, 3.0});
        const KdTree tree = KdTree::build(points, [](std::size_t count, auto&& f) { run_serial(count, f); });
        EXPECT_LE(tree.index_bytes(), n * sizeof(Vec3d) / 2) << n;
    }
}

TEST(LargestSquareWithin, IsTheLastSquareWhoseRootStaysWithin) {
    for (double d : {0.0, 5e-324, 1e-160, 0.1, 1.0, 2.0, 3.0, 1e154, 1.4e154, 1e300, 1.7976931348623157e308}) {
        const double t = largest_square_within(d);
        EXPECT_LE(std::sqrt(t), d) << d;
        EXPECT_GT(std::sqrt(std::nextafter(t, INFINITY)), d) << d;
    }
    EXPECT_EQ(largest_square_within(INFINITY), INFINITY);
}

}  // namespace
}  // namespace quorvane::spatial
