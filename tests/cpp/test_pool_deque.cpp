// The work-stealing deque on its own: whatever the interleaving of the owner and the thieves,
// every task pushed is taken exactly once, and the owner takes its own newest first.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>
#include <vector>

#include "src/pool/work_deque.hpp"

namespace quorvane::pool::detail {
namespace {

TEST(WorkDeque, OwnerTakesNewestAndThiefOldest) {
    int tasks[4] = {};
    WorkDeque<int*> deque(2);  // grows twice on the way
    for (int& task : tasks) deque.push(&task);
    EXPECT_EQ(deque.pop(), &tasks[3]);
    const auto stolen = deque.steal();
    EXPECT_EQ(stolen.status, WorkDeque<int*>::StealStatus::taken);
    EXPECT_EQ(stolen.item, &tasks[0]);
    EXPECT_EQ(deque.pop(), &tasks[2]);
    EXPECT_EQ(deque.pop(), &tasks[1]);
    EXPECT_EQ(deque.pop(), nullptr);
    EXPECT_EQ(deque.steal().status, WorkDeque<int*>::StealStatus::empty);
}

// The owner pushes bursts of 1 to 40 tasks and pops about half of each burst back, so the
// deque keeps running nearly empty - where the owner and the thieves race for the last task -
// and now and then grows while thieves are reading it.
class DequeUnderTheft : public ::testing::TestWithParam<std::tuple<int, std::size_t>> {};

TEST_P(DequeUnderTheft, TakesEveryTaskExactlyOnce) {
    const auto [thief_count, initial_capacity] = GetParam();
    constexpr std::size_t task_count = 200'000;
    std::vector<std::atomic<int>> taken(task_count);
    std::vector<std::size_t> ids(task_count);
    for (std::size_t i = 0; i < task_count; ++i) ids[i] = i;

    WorkDeque<std::size_t*> deque(initial_capacity);
    std::atomic<bool> owner_done{false};
    std::vector<std::thread> thieves;
    for (int t = 0; t < thief_count; ++t) {
        thieves.emplace_back([&] {
            for (;;) {
                // Read the flag first: once it is set, an empty deque stays empty.
                const bool last_look = owner_done.load();
                const auto stolen = deque.steal();
                if (stolen.status == WorkDeque<std::size_t*>::StealStatus::taken) {
                    taken[*stolen.item].fetch_add(1);
                } else if (stolen.status == WorkDeque<std::size_t*>::StealStatus::empty && last_look) {
                    return;
                }
            }
        });
    }

    std::size_t next = 0;
    std::uint32_t random = 12345;
    while (next < task_count) {
        random = random * 1664525u + 1013904223u;
        const std::size_t burst = std::min<std::size_t>(1 + (random >> 16) % 40, task_count - next);
        for (std::size_t k = 0; k < burst; ++k) deque.push(&ids[next++]);
        for (std::size_t k = 0; k < (burst + 1) / 2; ++k) {
            if (std::size_t* task = deque.pop()) taken[*task].fetch_add(1);
        }
    }
    while (std::size_t* task = deque.pop()) taken[*task].fetch_add(1);
    owner_done.store(true);
    for (auto& thief : thieves) thief.join();

    std::size_t wrong = 0;
    for (std::size_t i = 0; i < task_count; ++i) wrong += taken[i].load() != 1;
    EXPECT_EQ(wrong, 0u);
}

INSTANTIATE_TEST_SUITE_P(ThievesByCapacity, DequeUnderTheft,
                         ::testing::Combine(::testing::Values(1, 3), ::testing::Values(std::size_t{2}, std::size_t{64})),
                         [](const auto& info) {
                             return std::to_string(std::get<0>(info.param)) + "_thieves_capacity_" +
                                    std::to_string(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace quorvane::pool::detail
