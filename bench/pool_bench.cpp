// How fast the worker pool is at its two extremes: the fixed cost of one step over two items
// (with the default pool, one worker and eight), and the speedup of a compute-bound map over a
// million items with every worker against one.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <span>
#include <thread>
#include <vector>

#include "src/pool/pool.hpp"
#include "src/pool/worker_count.hpp"

namespace {

using quorvane::pool::ThreadPool;
using Clock = std::chrono::steady_clock;

double microseconds(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

struct Spread {
    double median;
    double p90;
};

Spread spread_of(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples[samples.size() * 9 / 10]};
}

// One step over two items, timed one at a time; `pause` lets the workers fall asleep in between.
Spread time_tiny_steps(ThreadPool& pool, int steps, std::chrono::microseconds pause) {
    std::vector<double> in{1.0, 2.0};
    std::vector<double> out(2);
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(steps));
    for (int i = 0; i < steps; ++i) {
        if (pause.count() > 0) std::this_thread::sleep_for(pause);
        const auto start = Clock::now();
        quorvane::pool::run_map(pool, std::span<const double>(in), std::span<double>(out), [](double x) { return x + 1.0; });
        samples.push_back(microseconds(Clock::now() - start));
    }
    return spread_of(std::move(samples));
}

// About a quarter of a microsecond of arithmetic per item, with almost no memory traffic.
double compute_bound(double x) {
    double y = x;
    for (int k = 0; k < 40; ++k) y = std::sqrt(y * y + 1.0) * 0.999 + 0.001 * x;
    return y;
}

double time_pool_map_ms(ThreadPool& pool, const std::vector<double>& in, std::vector<double>& out) {
    const auto start = Clock::now();
    quorvane::pool::run_map(pool, std::span<const double>(in), std::span<double>(out), compute_bound);
    return microseconds(Clock::now() - start) / 1000.0;
}

// The same map by hand on plain threads, one contiguous slice each: what the machine allows at
// this moment, to read the pool's speedup against.
double time_plain_threads_ms(std::size_t threads, const std::vector<double>& in, std::vector<double>& out) {
    const auto start = Clock::now();
    std::vector<std::thread> slices;
    for (std::size_t t = 0; t < threads; ++t) {
        slices.emplace_back([&, t] {
            const std::size_t end = in.size() * (t + 1) / threads;
            for (std::size_t i = in.size() * t / threads; i < end; ++i) out[i] = compute_bound(in[i]);
        });
    }
    for (auto& slice : slices) slice.join();
    return microseconds(Clock::now() - start) / 1000.0;
}

}  // namespace

int main() {
    const std::size_t workers = quorvane::pool::decide_worker_count(nullptr, nullptr, quorvane::pool::detect_available_cpus());
    // Figures from a loaded machine mean little: say how loaded it was.
    double load = 0;
    if (std::FILE* loadavg = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(loadavg, "%lf", &load) != 1) load = 0;
        std::fclose(loadavg);
    }
    std::printf("available CPUs: %zu, load average over the last minute: %.2f\n", workers, load);

    ThreadPool pool(workers);
    time_tiny_steps(pool, 2000, std::chrono::microseconds(0));  // warm-up
    const Spread busy = time_tiny_steps(pool, 20000, std::chrono::microseconds(0));
    std::printf("step over 2 items, %zu idle workers, back to back: median %.2f us, p90 %.2f us (target < 10 us)\n",
                workers, busy.median, busy.p90);
    const Spread asleep = time_tiny_steps(pool, 500, std::chrono::microseconds(2000));
    std::printf("step over 2 items, %zu sleeping workers (2 ms apart):  median %.2f us, p90 %.2f us\n", workers,
                asleep.median, asleep.p90);
    // More workers than cores must not make the hand-off collapse; one worker is the reference.
    for (const std::size_t others : {std::size_t{1}, std::size_t{8}}) {
        ThreadPool sized(others);
        time_tiny_steps(sized, 2000, std::chrono::microseconds(0));
        const Spread tiny = time_tiny_steps(sized, 20000, std::chrono::microseconds(0));
        std::printf("step over 2 items, pool of %zu, back to back: median %.2f us, p90 %.2f us\n", others,
                    tiny.median, tiny.p90);
    }

    const std::size_t n = 1'000'000;
    std::vector<double> in(n);
    for (std::size_t i = 0; i < n; ++i) in[i] = static_cast<double>(i % 1000) * 0.01;
    std::vector<double> out_one(n);
    std::vector<double> out_all(n);
    std::vector<double> out_plain(n);
    ThreadPool one(1);
    // The four variants take turns, round after round, so that a change in the machine's load
    // during the run weighs on all of them alike.
    std::vector<double> pool_one, pool_all, plain_one, plain_all;
    for (int round = 0; round < 7; ++round) {
        pool_one.push_back(time_pool_map_ms(one, in, out_one));
        pool_all.push_back(time_pool_map_ms(pool, in, out_all));
        plain_one.push_back(time_plain_threads_ms(1, in, out_plain));
        plain_all.push_back(time_plain_threads_ms(workers, in, out_plain));
    }
    const double pool_one_ms = spread_of(pool_one).median;
    const double pool_all_ms = spread_of(pool_all).median;
    const double plain_one_ms = spread_of(plain_one).median;
    const double plain_all_ms = spread_of(plain_all).median;
    const bool same = std::equal(out_one.begin(), out_one.end(), out_all.begin(),
                                 [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; });
    std::printf("compute-bound map over %zu items: 1 worker %.1f ms, %zu workers %.1f ms, speedup %.2fx "
                "(target >= 1.8x)%s\n",
                n, pool_one_ms, workers, pool_all_ms, pool_one_ms / pool_all_ms, same ? "" : "  RESULTS DIFFER");
    // When this falls short of the worker count too, other processes had the processors.
    std::printf("  for comparison, plain threads on static slices: 1 thread %.1f ms, %zu threads %.1f ms, "
                "speedup %.2fx\n",
                plain_one_ms, workers, plain_all_ms, plain_one_ms / plain_all_ms);
    return same ? 0 : 1;
}
