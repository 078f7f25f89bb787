// Counting runnable threads: the kernel's own count, the fourth field of /proc/loadavg
// ("runnable/total"), which includes the thread that reads it. Read with plain system calls, at
// most every few milliseconds, by whichever idle worker finds the last look too old.
#include "src/pool/machine_load.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>

namespace quorvane::pool::detail {
namespace {

constexpr std::chrono::milliseconds look_interval{5};

std::atomic<bool> crowded{false};
std::atomic<std::int64_t> next_look_ns{0};

std::int64_t now_ns() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

long online_processors() noexcept {
    static const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count;
}

// The runnable count from /proc/loadavg, or -1 when it cannot be read.
long runnable_threads() noexcept {
    const int file = ::open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
    if (file < 0) return -1;
    char text[128];
    const ssize_t length = ::read(file, text, sizeof text - 1);
    ::close(file);
    if (length <= 0) return -1;
    // Past three load averages and their spaces, then the digits before the slash.
    int spaces = 0;
    ssize_t at = 0;
    for (; at < length && spaces < 3; ++at) spaces += text[at] == ' ';
    long count = 0;
    bool digits = false;
    for (; at < length && text[at] >= '0' && text[at] <= '9'; ++at) {
        count = count * 10 + (text[at] - '0');
        digits = true;
    }
    return digits && at < length && text[at] == '/' ? count : -1;
}

}  // namespace

bool processors_crowded() noexcept {
    // Relaxed: a hint about the machine, guarding no data.
    return crowded.load(std::memory_order_relaxed);
}

void refresh_processor_crowding() noexcept {
    const std::int64_t now = now_ns();
    // Relaxed: the claim below decides who looks; nothing else is published through it.
    std::int64_t due = next_look_ns.load(std::memory_order_relaxed);
    if (now < due) return;
    const std::int64_t next = now + std::chrono::nanoseconds(look_interval).count();
    if (!next_look_ns.compare_exchange_strong(due, next, std::memory_order_relaxed)) return;
    const long runnable = runnable_threads();
    const long processors = online_processors();
    if (runnable >= 0 && processors > 0) crowded.store(runnable > processors, std::memory_order_relaxed);
}

}  // namespace quorvane::pool::detail
