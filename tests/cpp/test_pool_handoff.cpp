// Handing steps to workers in every state they can be in: spinning, giving up spinning, falling
// asleep, asleep; from many threads at once; and just before a fork.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <numeric>
#include <thread>
#include <vector>

#include "test_pool_support.hpp"

namespace quorvane::pool {
namespace {

using testing::shared_pool;

// Busy work for a while, counted rather than timed: a processor cycle or so per round. The empty
// statement that the compiler must keep touches no memory, so a sanitizer does not slow it down.
void keep_busy(std::uint64_t rounds) {
    for (std::uint64_t k = 0; k < rounds; ++k) asm volatile("");
}

// A map over n items whose results must all be in place: out[i] = 3 * i + 1.
bool tiny_map_is_right(ThreadPool& pool, std::size_t n) {
    std::vector<std::uint64_t> in(n);
    std::iota(in.begin(), in.end(), std::uint64_t{0});
    std::vector<std::uint64_t> out(n, 0);
    run_map(pool, std::span<const std::uint64_t>(in), std::span<std::uint64_t>(out),
            [](std::uint64_t x) { return 3 * x + 1; });
    for (std::size_t i = 0; i < n; ++i) {
        if (out[i] != 3 * i + 1) return false;
    }
    return true;
}

class Handoff : public ::testing::TestWithParam<std::size_t> {
protected:
    ThreadPool& pool() { return shared_pool(GetParam()); }
};

// The pauses between steps sweep, again and again, from nothing to well past the time an idle
// worker keeps looking for work, so that steps arrive while the workers spin, while they give
// up and list themselves as sleepers, and once they sleep. A lost announcement hangs this test.
TEST_P(Handoff, StepsArrivingAtEveryMomentOfFallingAsleepComplete) {
    int wrong = 0;
    for (std::uint64_t step = 0; step < 3000; ++step) {
        keep_busy((step * 7919) % 1500 * 600);
        if (!tiny_map_is_right(pool(), 2 + step % 3)) ++wrong;
        if (step % 500 == 0 && !tiny_map_is_right(pool(), 5000)) ++wrong;
    }
    EXPECT_EQ(wrong, 0);
}

TEST_P(Handoff, ManyThreadsSubmittingSmallStepsAtOnce) {
    constexpr int threads = 12;
    std::atomic<int> wrong{0};
    std::atomic<int> ready{0};
    std::vector<std::thread> submitters;
    for (int t = 0; t < threads; ++t) {
        submitters.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < threads) std::this_thread::yield();
            for (int round = 0; round < 150; ++round) {
                if (!tiny_map_is_right(pool(), 2 + static_cast<std::size_t>(t + round) % 64)) wrong.fetch_add(1);
                // Now and then a pause, so that the workers also run out of work in between.
                if (round % 16 == t % 16) keep_busy(static_cast<std::uint64_t>(round) * 1000);
            }
        });
    }
    for (auto& submitter : submitters) submitter.join();
    EXPECT_EQ(wrong.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Workers, Handoff, ::testing::Values(1, 2, 8),
                         [](const auto& info) { return std::to_string(info.param) + "_workers"; });

// Right after a burst the workers are still awake, looking for more: the child of a fork made
// then must not inherit any of that.
TEST(Fork, RightAfterABurstTheChildStartsAfresh) {
    std::vector<std::thread> burst;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 3; ++t) {
        burst.emplace_back([&] {
            for (int round = 0; round < 300; ++round) {
                if (!tiny_map_is_right(global_pool(), 2 + static_cast<std::size_t>(round) % 7)) wrong.fetch_add(1);
            }
        });
    }
    for (auto& thread : burst) thread.join();
    ASSERT_EQ(wrong.load(), 0);
    const int status = testing::exit_status_of_child([] {
        for (int round = 0; round < 200; ++round) {
            if (!tiny_map_is_right(global_pool(), 2 + static_cast<std::size_t>(round) % 7)) return 1;
        }
        return tiny_map_is_right(global_pool(), 100'000) ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(tiny_map_is_right(global_pool(), 2));
}

}  // namespace
}  // namespace quorvane::pool
