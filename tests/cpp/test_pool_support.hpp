#pragma once
// What several pool test files share: pools of the sizes under test, kept for the whole run,
// and the comparison the nearest-element search uses.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

extern char** environ;

#include "src/pool/lazy_pool.hpp"
#include "src/pool/pool.hpp"
#include "src/pool/worker_count.hpp"
#include "src/pool/workers.hpp"

namespace quorvane::pool::testing {

inline constexpr std::size_t worker_counts[] = {1, 2, 3, 8, 255};

inline ThreadPool& shared_pool(std::size_t workers) {
    static std::mutex guard;
    static std::map<std::size_t, std::unique_ptr<ThreadPool>> pools;
    std::lock_guard lock(guard);
    auto& pool = pools[workers];
    if (!pool) pool = std::make_unique<ThreadPool>(workers);
    return *pool;
}

// IEEE 754 totalOrder as a strict "less": -NaN < -inf < ... < -0 < +0 < ... < +inf < +NaN.
inline bool total_order_less(double a, double b) {
    const auto key = [](double x) {
        const auto bits = std::bit_cast<std::uint64_t>(x);
        return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
    };
    return key(a) < key(b);
}

// The rule of the nearest-element search: a later candidate wins only if strictly smaller.
inline constexpr auto strictly_smaller = [](const double& candidate, const double& current) {
    return total_order_less(candidate, current);
};

// Runs `body` in a forked child, which exits with what body returns; gives the exit status,
// or -1 if the child did not exit normally.
template <class Body>
int exit_status_of_child(Body body) {
    const pid_t child = fork();
    if (child == 0) {
        alarm(120);  // a hang in the child must not hang the suite
        int code = 99;
        try {
            code = body();
        } catch (...) {
        }
        _exit(code);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs this test program again as a new process, limited to the tests matching `filter`, with
// this environment minus its RAYON_ and GTEST_ variables plus `extra`; gives the exit status, or
// -1 if it did not exit normally. A new process has no threads, no pool and no cached stacks yet.
inline int exit_status_of_fresh_run(const std::string& filter, const std::vector<std::string>& extra) {
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string text = *variable;
        if (!text.starts_with("RAYON_") && !text.starts_with("GTEST_")) environment.push_back(text);
    }
    environment.insert(environment.end(), extra.begin(), extra.end());
    std::vector<char*> envp;
    for (std::string& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);

    std::string program = "/proc/self/exe";
    std::string filter_option = "--gtest_filter=" + filter;
    char* argv[] = {program.data(), filter_option.data(), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return -1;
    int status = 0;
    if (waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace quorvane::pool::testing
