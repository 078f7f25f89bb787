#!/usr/bin/env bash
# ./bench/pool.sh [OUTPUT_DIR]
#
# Builds the worker-pool benchmark with the project's flags (optimised, no fused multiply-add)
# and runs it. The binary goes to OUTPUT_DIR, by default bench/out/ (ignored by git).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${1:-$root/bench/out}
mkdir -p "$out"

"${CXX:-g++}" -std=c++20 -O2 -DNDEBUG -Wall -Wextra -Werror -ffp-contract=off -pthread -I "$root" \
    "$root/bench/pool_bench.cpp" "$root"/src/pool/*.cpp -o "$out/pool_bench"
exec "$out/pool_bench"
