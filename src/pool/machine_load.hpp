#pragma once
// Whether threads of other processes want the processors this process's threads run on: then a
// thread of ours that spins keeps a processor from a thread that has work, so the pool's spinning
// threads yield between looks; otherwise they only look again and again, which notices new work
// within tens of nanoseconds, where a yield (a system call) would add a microsecond or more to
// every hand-off.

#include <cstddef>

namespace quorvane::pool::detail {

// The processors this process may find online (at least 1).
std::size_t online_processors() noexcept;

// The answer of the last looks; false before any.
bool processors_crowded() noexcept;

// Looks again if the last look is older than a few milliseconds, else costs one clock read.
// Idle workers call it before they spin, off the path of any step.
void refresh_processor_crowding() noexcept;

}  // namespace quorvane::pool::detail
