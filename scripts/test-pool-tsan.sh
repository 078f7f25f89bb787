#!/usr/bin/env bash
# ./scripts/test-pool-tsan.sh [BUILD_DIR]
#
# Builds the worker pool's C++ tests with ThreadSanitizer (clang++) in a build folder of their
# own - BUILD_DIR, or one under ${QUORVANE_CACHE:-$HOME/.cache/quorvane} - and runs them. Any
# sanitizer report fails the run (exit status 66).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-${QUORVANE_CACHE:-$HOME/.cache/quorvane}/build-pool-tsan}
compiler=${CXX_FOR_TSAN:-clang++}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUORVANE_BUILD_MODULE=OFF -DQUORVANE_BUILD_TESTS=ON \
    -DQUORVANE_SANITIZE=thread -DCMAKE_CXX_COMPILER="$compiler" >/dev/null
cmake --build "$build" -j2 --target quorvane_pool_tests

# halt_on_error/exitcode: the first report ends the run with a status of its own.
# die_after_fork=0: the fork test starts a pool in a child of a process that has threads, which
# the sanitizer supports for a child that only uses what it creates itself (ours does).
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 die_after_fork=0 ${TSAN_OPTIONS:-}"
tests=$build/tests/cpp/quorvane_pool_tests
log=$build/quorvane_pool_tests.log

status=0
"$tests" 2>&1 | tee "$log" || status=${PIPESTATUS[0]}

# Older sanitizer runtimes cannot place their shadow memory under the newer kernels' larger
# address-space randomisation ("unexpected memory mapping"); run them once more without it.
if [ "$status" -ne 0 ] && grep -q "unexpected memory mapping" "$log"; then
    echo "ThreadSanitizer could not map its shadow memory; running again with randomisation off" >&2
    status=0
    setarch "$(uname -m)" -R "$tests" 2>&1 | tee "$log" || status=${PIPESTATUS[0]}
fi

if grep -q "WARNING: ThreadSanitizer" "$log"; then
    echo "ThreadSanitizer reported a problem (see $log)" >&2
    [ "$status" -ne 0 ] || status=66
fi
exit "$status"
