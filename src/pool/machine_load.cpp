// Counting the runnable threads of other processes: the kernel's count of every runnable thread,
// the fourth field of /proc/loadavg ("runnable/total"), less this process's own runnable
// threads, read from /proc/self/task. The process's own threads are left out because, on a
// machine with few processors, its callers and workers spinning for each other already outnumber
// them: giving way to one another then only adds a system call to every look, while a thread of
// another process that wants a processor is kept from it by every one of ours that spins. Read
// with plain system calls, at most every few milliseconds, by whichever idle worker finds the
// last look too old.
#include "src/pool/machine_load.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include <atomic>
#include <chrono>
#include <cstdint>

namespace quorvane::pool::detail {
namespace {

constexpr std::chrono::milliseconds look_interval{5};

std::atomic<bool> crowded{false};
std::atomic<bool> seen_last_look{false};
std::atomic<std::int64_t> next_look_ns{0};

std::int64_t now_ns() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Reads a small file of /proc into `text`; its length, or -1.
ssize_t read_small_file(const char* path, char (&text)[512]) noexcept {
    const int file = ::open(path, O_RDONLY | O_CLOEXEC);
    if (file < 0) return -1;
    const ssize_t length = ::read(file, text, sizeof text - 1);
    ::close(file);
    return length;
}

// The runnable count from /proc/loadavg, or -1 when it cannot be read.
long runnable_threads() noexcept {
    char text[512];
    const ssize_t length = read_small_file("/proc/loadavg", text);
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

// How many threads of this process are runnable ('R' in their stat file), or -1. The directory
// is read with getdents64 into a buffer on the stack, not with opendir, which allocates: a fork
// that lands while a worker is in here must not leave the child an allocator lock held.
long runnable_threads_of_this_process() noexcept {
    const int tasks = ::open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (tasks < 0) return -1;
    long count = 0;
    alignas(dirent64) char entries[4096];
    char path[64];
    char text[512];
    ssize_t filled = 0;
    while ((filled = ::getdents64(tasks, entries, sizeof entries)) > 0) {
        for (ssize_t at = 0; at < filled;) {
            const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
            at += entry->d_reclen;
            if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
            std::snprintf(path, sizeof path, "/proc/self/task/%.20s/stat", entry->d_name);
            const ssize_t length = read_small_file(path, text);
            if (length <= 0) continue;  // the thread has ended meanwhile
            // The state follows the name, which is in parentheses and may itself hold any byte.
            ssize_t end = length;
            while (end > 0 && text[end - 1] != ')') --end;
            count += end > 0 && end + 1 < length && text[end + 1] == 'R';
        }
    }
    ::close(tasks);
    return filled < 0 ? -1 : count;
}

}  // namespace

std::size_t online_processors() noexcept {
    static const std::size_t count = [] {
        const long online = sysconf(_SC_NPROCESSORS_ONLN);
        return online > 0 ? static_cast<std::size_t>(online) : std::size_t{1};
    }();
    return count;
}

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
    // Ours are counted before and after the kernel's count, and the larger count is taken: a
    // thread of ours that falls asleep or wakes meanwhile must not pass for another process's.
    const long own_before = runnable_threads_of_this_process();
    const long runnable = runnable_threads();
    const long own_after = runnable_threads_of_this_process();
    const long own = own_before > own_after ? own_before : own_after;
    if (runnable < 0 || own < 0) return;
    // Both counts include the reading thread. Crowded when some other process's thread wants a
    // processor that the runnable threads, ours included, leave it no room for.
    const bool seen = runnable > own && static_cast<std::size_t>(runnable) > online_processors();
    // Crowded from the second look in a row that sees it: one look can catch a thread of ours
    // between the counts, or a thread of another process that runs for a moment only.
    // Relaxed: only the claimant of this look touches it.
    const bool seen_before = seen_last_look.exchange(seen, std::memory_order_relaxed);
    crowded.store(seen && seen_before, std::memory_order_relaxed);
}

}  // namespace quorvane::pool::detail
