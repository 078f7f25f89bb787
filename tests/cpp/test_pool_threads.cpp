// Who runs what: the calling thread's part in a step, steps from many threads at once, steps
// inside steps, and the pool of a forked child.
#include <gtest/gtest.h>

#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "test_pool_support.hpp"

namespace quorvane::pool {
namespace {

using testing::shared_pool;
using testing::strictly_smaller;
using testing::worker_counts;

// Counts its scopes, as the binding's type lets go of the interpreter for the same span.
struct CountedBlock {
    static inline std::atomic<int> entered{0};
    static inline std::atomic<int> open{0};
    CountedBlock() {
        entered.fetch_add(1);
        open.fetch_add(1);
    }
    ~CountedBlock() { open.fetch_sub(1); }
};

class CallingThread : public ::testing::TestWithParam<std::size_t> {
protected:
    void SetUp() override {
        CountedBlock::entered = 0;
        CountedBlock::open = 0;
    }
    ThreadPool& pool() { return shared_pool(GetParam()); }
};

TEST_P(CallingThread, RunsTinyStepsItselfWithoutBlocking) {
    for (const std::size_t n : {0, 1}) {
        std::vector<std::thread::id> runners;
        run_for<CountedBlock>(pool(), n, [&](std::size_t, std::size_t) { runners.push_back(std::this_thread::get_id()); });
        EXPECT_EQ(runners, std::vector<std::thread::id>(n, std::this_thread::get_id()));
    }
    EXPECT_EQ(CountedBlock::entered.load(), 0);
}

// The scheduler's state letter of one of this process's threads ('R' running or runnable, 'S'
// sleeping, ...), from /proc; '?' if it cannot be read.
char thread_state(pid_t thread) {
    std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto name_end = text.rfind(')');
    return name_end != std::string::npos && name_end + 2 < text.size() ? text[name_end + 2] : '?';
}

// Every step here lasts until its caller has blocked, and meanwhile its first piece watches the
// caller: the caller runs none of the items, never sleeps before its scope is open (spinning
// threads are runnable, 'R'; a thread asleep in the kernel is 'S'), and opens one scope, once.
TEST_P(CallingThread, RunsNoItemsAndBlocksInOneScopeAtMost) {
    const auto caller = std::this_thread::get_id();
    const pid_t caller_thread = gettid();
    for (const std::size_t n : {2, 3, 1000, 100'000}) {
        std::atomic<int> on_caller{0};
        std::atomic<int> slept_outside_scope{0};
        std::atomic<bool> saw_scope_open{false};
        const int entered_before = CountedBlock::entered.load();
        run_for<CountedBlock>(pool(), n, [&](std::size_t begin, std::size_t) {
            if (std::this_thread::get_id() == caller) on_caller.fetch_add(1);
            if (begin != 0) return;
            // Only a guard against hanging the suite if the caller never blocks.
            const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (std::chrono::steady_clock::now() < give_up) {
                const char state = thread_state(caller_thread);
                // Read after the state: a scope still closed now was closed when the state was read.
                if (CountedBlock::open.load() == 1) {
                    saw_scope_open = true;
                    break;
                }
                if (state == 'S' || state == 'D') slept_outside_scope.fetch_add(1);
            }
        });
        EXPECT_EQ(on_caller.load(), 0) << n << " items";
        EXPECT_TRUE(saw_scope_open.load()) << n << " items";
        EXPECT_EQ(slept_outside_scope.load(), 0) << n << " items";
        EXPECT_EQ(CountedBlock::entered.load() - entered_before, 1) << n << " items";
        EXPECT_EQ(CountedBlock::open.load(), 0) << n << " items";
    }
}

// A step that can only finish once its caller has blocked: the caller must stop spinning and
// enter its scope while the step runs, however long the step takes.
TEST_P(CallingThread, BlocksInsideItsScopeDuringALongStep) {
    std::atomic<bool> saw_caller_blocked{false};
    run_for<CountedBlock>(pool(), 2, [&](std::size_t begin, std::size_t) {
        if (begin != 0) return;
        // Only a guard against hanging the suite if the caller never blocks.
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (CountedBlock::open.load() != 1 && std::chrono::steady_clock::now() < give_up) {
            std::this_thread::yield();
        }
        saw_caller_blocked = CountedBlock::open.load() == 1;
    });
    EXPECT_TRUE(saw_caller_blocked.load());
    EXPECT_EQ(CountedBlock::entered.load(), 1);
    EXPECT_EQ(CountedBlock::open.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Workers, CallingThread, ::testing::ValuesIn(worker_counts),
                         [](const auto& info) { return std::to_string(info.param) + "_workers"; });

// The sum of f(i) = i * i over [0, n) by a map, checked against the closed form.
bool map_sums_correctly(ThreadPool& pool, std::size_t n) {
    std::vector<std::uint64_t> in(n);
    std::iota(in.begin(), in.end(), std::uint64_t{0});
    std::vector<std::uint64_t> out(n);
    run_map(pool, std::span<const std::uint64_t>(in), std::span<std::uint64_t>(out),
            [](std::uint64_t x) { return x * x; });
    const std::uint64_t m = n;
    const std::uint64_t expected = m == 0 ? 0 : (m - 1) * m * (2 * m - 1) / 6;
    return std::accumulate(out.begin(), out.end(), std::uint64_t{0}) == expected;
}

TEST(ManySubmitters, EachGetsItsOwnResult) {
    for (const std::size_t workers : {1, 3}) {
        ThreadPool& pool = shared_pool(workers);
        std::atomic<int> wrong{0};
        std::vector<std::thread> submitters;
        for (std::size_t t = 0; t < 8; ++t) {
            submitters.emplace_back([&, t] {
                for (std::size_t round = 0; round < 40; ++round) {
                    const std::size_t n = (t * 977 + round * 131) % 5000;
                    if (!map_sums_correctly(pool, n)) wrong.fetch_add(1);
                    const auto best = run_reduce(pool, n, 1 + t, [n](std::size_t i) { return double(n - i); },
                                                 strictly_smaller);
                    const std::size_t last_selected = n == 0 ? 0 : (n - 1) / (1 + t) * (1 + t);
                    if (n > 0 && (!best || best->first != last_selected)) wrong.fetch_add(1);
                }
            });
        }
        for (auto& submitter : submitters) submitter.join();
        EXPECT_EQ(wrong.load(), 0) << workers << " workers";
    }
}

TEST(ManySubmitters, ShareTheGlobalPool) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> submitters;
    for (int t = 0; t < 4; ++t) {
        submitters.emplace_back([&] {
            for (int round = 0; round < 20; ++round) {
                if (!map_sums_correctly(global_pool(), 3000)) wrong.fetch_add(1);
            }
        });
    }
    for (auto& submitter : submitters) submitter.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(NestedSteps, RunInsideTheOuterStepOnTheSamePoolOrAnother) {
    ThreadPool& outer = shared_pool(3);
    ThreadPool& other = shared_pool(2);
    std::vector<std::size_t> in(64);
    std::iota(in.begin(), in.end(), std::size_t{0});
    std::vector<int> ok(in.size());
    run_map(outer, std::span<const std::size_t>(in), std::span<int>(ok), [&](std::size_t i) {
        ThreadPool& inner = i % 2 == 0 ? outer : other;
        return map_sums_correctly(inner, 500 + i) ? 1 : 0;
    });
    EXPECT_EQ(std::accumulate(ok.begin(), ok.end(), 0), 64);
}

TEST(Fork, ChildGetsAPoolOfItsOwn) {
    ASSERT_TRUE(map_sums_correctly(global_pool(), 10'000));
    const std::size_t parent_workers = global_pool().worker_count();
    const int status = testing::exit_status_of_child([&] {
        if (global_pool().worker_count() != parent_workers) return 2;
        return map_sums_correctly(global_pool(), 10'000) && map_sums_correctly(global_pool(), 2) ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(map_sums_correctly(global_pool(), 10'000));  // the parent's pool is untouched
}

}  // namespace
}  // namespace quorvane::pool
