#pragma once
// Whether the machine has more runnable threads than processors: then a thread that spins keeps
// a processor from a thread that has work, so the pool's spinning threads yield between looks;
// otherwise they only pause, which notices new work within tens of nanoseconds, where a yield
// (a system call) would add a microsecond or more to every hand-off.

namespace quorvane::pool::detail {

// The answer of the last look; false before any.
bool processors_crowded() noexcept;

// Looks again if the last look is older than a few milliseconds, else costs one clock read.
// Idle workers call it before they spin, off the path of any step.
void refresh_processor_crowding() noexcept;

}  // namespace quorvane::pool::detail
