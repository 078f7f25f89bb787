// What a step does when something fails: in an item, in the caller's arguments, in making the
// pool, and in the pool's own machinery.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <tuple>
#include <vector>

#include "test_pool_support.hpp"

namespace quorvane::pool {
namespace {

using testing::shared_pool;
using testing::strictly_smaller;
using testing::worker_counts;

struct ItemFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The item at `first_failure` throws, and so does every 1000th after it, so several pieces fail;
// the rethrown failure must be that of the lowest index. The other items take a while, so that
// a caller who is told of the failure before every piece has finished would catch some running.
class ItemFailures : public ::testing::TestWithParam<std::tuple<std::size_t, std::size_t>> {
protected:
    static constexpr std::size_t n = 4'000;
    ThreadPool& pool() { return shared_pool(std::get<0>(GetParam())); }
    std::size_t first_failure() const { return std::get<1>(GetParam()); }

    double item(std::size_t i) {
        if (i == first_failure() || (i > first_failure() && i % 1000 == 999)) throw ItemFailure(std::to_string(i));
        running_.fetch_add(1);
        volatile double busy = 0;
        for (int k = 0; k < 2000; ++k) busy = busy + k;
        running_.fetch_sub(1);
        return static_cast<double>(i);
    }

    template <class Step>
    void expect_lowest_failure_once_all_finished(Step step) {
        try {
            step();
            ADD_FAILURE() << "nothing was thrown";
        } catch (const ItemFailure& failure) {
            EXPECT_STREQ(failure.what(), std::to_string(first_failure()).c_str());
            EXPECT_EQ(running_.load(), 0);
        }
        // The pool is still whole afterwards.
        std::vector<double> out(n);
        std::vector<double> in(n, 2.0);
        run_map(pool(), std::span<const double>(in), std::span<double>(out), [](double x) { return x * x; });
        EXPECT_EQ(out.front(), 4.0);
        EXPECT_EQ(out.back(), 4.0);
    }

    std::atomic<int> running_{0};
};

TEST_P(ItemFailures, MapRethrowsOnCaller) {
    std::vector<std::size_t> in(n);
    for (std::size_t i = 0; i < n; ++i) in[i] = i;
    std::vector<double> out(n);
    expect_lowest_failure_once_all_finished([&] {
        run_map(pool(), std::span<const std::size_t>(in), std::span<double>(out), [&](std::size_t i) { return item(i); });
    });
}

TEST_P(ItemFailures, TextRethrowsOnCaller) {
    expect_lowest_failure_once_all_finished([&] {
        run_join_text(pool(), n, [&](std::size_t i, std::string& out) { out += std::to_string(item(i)); }, " ");
    });
}

TEST_P(ItemFailures, ReductionRethrowsOnCaller) {
    expect_lowest_failure_once_all_finished(
        [&] { run_reduce(pool(), n, 1, [&](std::size_t i) { return item(i); }, strictly_smaller); });
}

INSTANTIATE_TEST_SUITE_P(WorkersByFirstFailure, ItemFailures,
                         ::testing::Combine(::testing::ValuesIn(worker_counts),
                                            ::testing::Values(std::size_t{0}, std::size_t{2'001}, std::size_t{3'999})),
                         [](const auto& info) {
                             return std::to_string(std::get<0>(info.param)) + "_workers_from_" +
                                    std::to_string(std::get<1>(info.param));
                         });

TEST(StepArguments, AreCheckedBeforeAnyWork) {
    ThreadPool& pool = shared_pool(2);
    std::vector<double> in(10);
    std::vector<double> out(9);
    bool called = false;
    const auto mark = [&](double x) {
        called = true;
        return x;
    };
    EXPECT_THROW(run_map(pool, std::span<const double>(in), std::span<double>(out), mark), StepInvariantError);
    EXPECT_THROW(run_reduce(pool, 10, 0, [](std::size_t i) { return double(i); }, strictly_smaller),
                 std::invalid_argument);
    EXPECT_THROW(run_reduce_range(pool, 5, 4, [](std::size_t i) { return double(i); }, strictly_smaller),
                 std::invalid_argument);
    EXPECT_FALSE(called);
    EXPECT_THROW(ThreadPool(0), std::invalid_argument);
}

// ---- making the pool -----------------------------------------------------------------------

std::atomic<int> factory_calls{0};

std::unique_ptr<ThreadPool> refusing_factory() {
    factory_calls.fetch_add(1);
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

std::unique_ptr<ThreadPool> working_factory() {
    factory_calls.fetch_add(1);
    return std::make_unique<ThreadPool>(2);
}

template <class Use>
void from_many_threads_at_once(Use use) {
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            while (!go.load()) std::this_thread::yield();
            use();
        });
    }
    go.store(true);
    for (auto& thread : threads) thread.join();
}

TEST(LazyPool, IsMadeOnceUnderConcurrentFirstUse) {
    factory_calls = 0;
    detail::LazyPool lazy(&working_factory);
    std::atomic<ThreadPool*> first{nullptr};
    std::atomic<int> different{0};
    from_many_threads_at_once([&] {
        ThreadPool* got = &lazy.get();
        ThreadPool* expected = nullptr;
        if (!first.compare_exchange_strong(expected, got) && expected != got) different.fetch_add(1);
    });
    EXPECT_EQ(factory_calls.load(), 1);
    EXPECT_EQ(different.load(), 0);
}

TEST(LazyPool, RemembersAFailureAndNeverRetries) {
    factory_calls = 0;
    detail::LazyPool lazy(&refusing_factory);
    const std::string cause = std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)).what();
    std::atomic<int> reported{0};
    const auto use = [&] {
        try {
            lazy.get();
        } catch (const PoolUnavailable& unavailable) {
            const std::string message = unavailable.what();
            if (message.starts_with("The global thread pool has not been initialized.") &&
                message.find(cause) != std::string::npos) {
                reported.fetch_add(1);
            }
        }
    };
    from_many_threads_at_once(use);
    use();
    EXPECT_EQ(reported.load(), 9);
    EXPECT_EQ(factory_calls.load(), 1);
}

// A failure whose text is `length` characters long.
std::size_t failure_length = 0;
std::unique_ptr<ThreadPool> factory_failing_at_length() { throw std::runtime_error(std::string(failure_length, 'x')); }

class LazyPoolCause : public ::testing::TestWithParam<std::size_t> {};

// The cause is kept without allocating (making the pool must not throw while it keeps it), so a
// long one is cut at the capacity; every caller sees the same text.
TEST_P(LazyPoolCause, IsKeptUpToItsCapacity) {
    failure_length = GetParam();
    detail::LazyPool lazy(&factory_failing_at_length);
    const std::string expected = "The global thread pool has not been initialized.: " +
                                 std::string(std::min(GetParam(), detail::LazyPool::cause_capacity), 'x');
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            lazy.get();
            ADD_FAILURE() << "no failure reported";
        } catch (const PoolUnavailable& unavailable) {
            EXPECT_EQ(std::string(unavailable.what()), expected);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, LazyPoolCause,
                         ::testing::Values(std::size_t{0}, std::size_t{254}, std::size_t{255}, std::size_t{256},
                                           std::size_t{100'000}));

// Announcing work runs after a job on the announcer's stack was queued, where a worker may
// already run it: an exception unwinding through there would destroy the job under the worker.
static_assert(noexcept(std::declval<detail::PoolCore&>().announce_work()));
static_assert(noexcept(std::declval<detail::IdleWorkers&>().announce_work()));
static_assert(noexcept(detail::run_other_work_until(std::declval<detail::WorkerThread&>(),
                                                    std::declval<const detail::JoinLatch&>())));

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define QUORVANE_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
#define QUORVANE_UNDER_SANITIZER 1
#endif
#endif

constexpr const char* refusing_child_marker = "QUORVANE_POOL_TEST_REFUSE_THREADS";

// The real thing, in a fresh process whose address space has no room left for a thread stack.
TEST(PoolCreationChild, FailsCleanlyWhenTheSystemRefusesThreads) {
    if (std::getenv(refusing_child_marker) == nullptr) {
        GTEST_SKIP() << "runs only in a child of PoolCreation.FailsCleanlyWhenTheSystemRefusesThreads";
    }
    long pages = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    ASSERT_GT(pages, 0);
    const rlim_t room = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (4u << 20);
    const rlimit limit{room, room};
    ASSERT_EQ(setrlimit(RLIMIT_AS, &limit), 0);

    EXPECT_THROW(ThreadPool(4), std::system_error);
    std::string first_message;
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            run_for(10, [](std::size_t, std::size_t) {});
            ADD_FAILURE() << "the step ran without a pool";
        } catch (const PoolUnavailable& unavailable) {
            const std::string message = unavailable.what();
            EXPECT_TRUE(message.starts_with("The global thread pool has not been initialized.")) << message;
            if (attempt == 1) {
                EXPECT_EQ(message, first_message);
            }
            first_message = message;
        }
    }
}

TEST(PoolCreation, FailsCleanlyWhenTheSystemRefusesThreads) {
#ifdef QUORVANE_UNDER_SANITIZER
    GTEST_SKIP() << "a sanitizer's shadow memory does not fit under an address-space limit";
#endif
    EXPECT_EQ(testing::exit_status_of_fresh_run("PoolCreationChild.*", {std::string(refusing_child_marker) + "=1"}), 0);
}

// ---- the machinery itself ------------------------------------------------------------------

struct BrokenJob : detail::Job {
    BrokenJob() : Job{[](Job&, detail::WorkerThread&) { throw std::logic_error("broken"); }} {}
};

TEST(PoolMachineryDeathTest, AbortsWithTheFixedReport) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            ThreadPool pool(1);
            BrokenJob job;
            pool.inject(job);
            for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
        },
        "^Rayon: detected unexpected panic; aborting\n$");
}

}  // namespace
}  // namespace quorvane::pool
