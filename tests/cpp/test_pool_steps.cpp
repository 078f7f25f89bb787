// Every kind of step gives exactly what one plain loop gives, for every worker count and size.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "test_pool_support.hpp"

namespace quorvane::pool {
namespace {

using testing::shared_pool;
using testing::strictly_smaller;
using testing::worker_counts;

constexpr std::size_t sizes[] = {0, 1, 2, 3, 17, 100003};

// Rounding-sensitive on purpose: any reordering or fusing would change the bits.
double compute_item(double x) { return std::sqrt(x * 1.1 + 0.3) * x - std::sin(x) / 3.0; }

// Many equal values, both zeros, NaNs of both signs and infinities, spread over the indices.
double awkward_value(std::size_t i) {
    switch ((i * 2654435761u) % 11) {
        case 0: return std::numeric_limits<double>::quiet_NaN();
        case 1: return -std::numeric_limits<double>::quiet_NaN();
        case 2: return 0.0;
        case 3: return -0.0;
        case 4: return std::numeric_limits<double>::infinity();
        case 5: return -std::numeric_limits<double>::infinity();
        default: return static_cast<double>((i * 40503u) % 7);  // ties galore
    }
}

std::optional<std::pair<std::size_t, double>> plain_loop_minimum(std::size_t begin, std::size_t end,
                                                                 std::size_t stride) {
    std::optional<std::pair<std::size_t, double>> best;
    for (std::size_t i = begin; i < end; i += stride) {
        if (!best || strictly_smaller(awkward_value(i), best->second)) best.emplace(i, awkward_value(i));
    }
    return best;
}

void expect_same_bits(const std::optional<std::pair<std::size_t, double>>& actual,
                      const std::optional<std::pair<std::size_t, double>>& expected) {
    ASSERT_EQ(actual.has_value(), expected.has_value());
    if (!expected) return;
    EXPECT_EQ(actual->first, expected->first);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(actual->second), std::bit_cast<std::uint64_t>(expected->second));
}

class StepsMatchPlainLoop : public ::testing::TestWithParam<std::tuple<std::size_t, std::size_t>> {
protected:
    ThreadPool& pool() { return shared_pool(std::get<0>(GetParam())); }
    std::size_t n() const { return std::get<1>(GetParam()); }
};

TEST_P(StepsMatchPlainLoop, MapWritesEveryResultAtItsIndex) {
    std::vector<double> input(n());
    for (std::size_t i = 0; i < n(); ++i) input[i] = static_cast<double>(i) * 0.37 - 5.0;
    std::vector<double> output(n(), -1.0);
    run_map(pool(), std::span<const double>(input), std::span<double>(output), compute_item);
    for (std::size_t i = 0; i < n(); ++i) {
        ASSERT_EQ(std::bit_cast<std::uint64_t>(output[i]), std::bit_cast<std::uint64_t>(compute_item(input[i])))
            << "at " << i;
    }
}

TEST_P(StepsMatchPlainLoop, RangesCoverEveryIndexOnce) {
    std::vector<std::atomic<int>> visits(n());
    run_for(pool(), n(), [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) visits[i].fetch_add(1, std::memory_order_relaxed);
    });
    for (std::size_t i = 0; i < n(); ++i) ASSERT_EQ(visits[i].load(), 1) << "at " << i;
}

TEST_P(StepsMatchPlainLoop, TextJoinsItemsWithSeparatorsBetweenOnly) {
    std::string expected;
    for (std::size_t i = 0; i < n(); ++i) expected += (i == 0 ? "" : ",\n") + std::to_string(i * 7);
    const std::string text = run_join_text(
        pool(), n(), [](std::size_t i, std::string& out) { out += std::to_string(i * 7); }, ",\n");
    EXPECT_EQ(text, expected);
}

TEST_P(StepsMatchPlainLoop, ReductionKeepsFirstMinimumInTotalOrder) {
    const auto best = run_reduce(pool(), n(), 1, awkward_value, strictly_smaller);
    expect_same_bits(best, plain_loop_minimum(0, n(), 1));
    if (n() >= 6) {
        // A negative NaN sorts below everything, so the first one wins however work is divided.
        ASSERT_TRUE(best.has_value());
        EXPECT_TRUE(std::isnan(best->second) && std::signbit(best->second));
    }
}

TEST_P(StepsMatchPlainLoop, StridedReductionVisitsOnlyMultiplesOfTheStride) {
    for (const std::size_t stride : {std::size_t{2}, std::size_t{3}, std::size_t{7}, std::size_t{1000}, n() + 5}) {
        std::mutex seen_guard;
        std::vector<std::size_t> seen;
        const auto best = run_reduce<StayAttached, double>(
            pool(), n(), stride,
            [&](std::size_t i) {
                std::lock_guard lock(seen_guard);
                seen.push_back(i);
                return awkward_value(i);
            },
            strictly_smaller);
        expect_same_bits(best, plain_loop_minimum(0, n(), stride));
        EXPECT_EQ(seen.size(), n() == 0 ? 0 : (n() - 1) / stride + 1) << "stride " << stride;
        for (const std::size_t i : seen) ASSERT_EQ(i % stride, 0u) << "stride " << stride;
    }
}

TEST_P(StepsMatchPlainLoop, WindowReductionReportsIndicesOfTheWholeList) {
    const std::size_t begin = n() / 3;
    const std::size_t end = n() - n() / 4;
    expect_same_bits(run_reduce_range(pool(), begin, end, awkward_value, strictly_smaller),
                     plain_loop_minimum(begin, end, 1));
}

INSTANTIATE_TEST_SUITE_P(WorkersBySize, StepsMatchPlainLoop,
                         ::testing::Combine(::testing::ValuesIn(worker_counts), ::testing::ValuesIn(sizes)),
                         [](const auto& info) {
                             return std::to_string(std::get<0>(info.param)) + "_workers_" +
                                    std::to_string(std::get<1>(info.param)) + "_items";
                         });

// With one worker nothing is ever stolen, so the pieces follow from the split rule alone: the
// root halves on the caller (budget 1 -> 0); each half moved to the worker (budget back to 1)
// and halves again; those quarters, not moved, halve once more (1 -> 0) and stop.
TEST(SplitRule, OneWorkerCutsIntoEighths) {
    ThreadPool pool(1);
    const auto pieces_of = [&](std::size_t n) {
        std::mutex guard;
        std::vector<std::pair<std::size_t, std::size_t>> pieces;
        run_for(pool, n, [&](std::size_t begin, std::size_t end) {
            std::lock_guard lock(guard);
            pieces.emplace_back(begin, end);
        });
        std::sort(pieces.begin(), pieces.end());
        return pieces;
    };
    using Pieces = std::vector<std::pair<std::size_t, std::size_t>>;
    EXPECT_EQ(pieces_of(16), (Pieces{{0, 2}, {2, 4}, {4, 6}, {6, 8}, {8, 10}, {10, 12}, {12, 14}, {14, 16}}));
    EXPECT_EQ(pieces_of(100), (Pieces{{0, 12}, {12, 25}, {25, 37}, {37, 50}, {50, 62}, {62, 75}, {75, 87}, {87, 100}}));
    EXPECT_EQ(pieces_of(3), (Pieces{{0, 1}, {1, 2}, {2, 3}}));
    EXPECT_EQ(pieces_of(1), (Pieces{{0, 1}}));
}

}  // namespace
}  // namespace quorvane::pool
