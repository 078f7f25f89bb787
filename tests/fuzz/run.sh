#!/usr/bin/env bash
# bash tests/fuzz/run.sh [SECONDS]
#
# Builds the float-to-text fuzzer with clang (libFuzzer, AddressSanitizer, UndefinedBehavior-
# Sanitizer) into the cache folder and runs it for a bounded time, 20 seconds unless told
# otherwise. The seed corpus in tests/fuzz/corpus is copied, never written to: what the fuzzer
# finds stays in the cache. Exits non-zero when a check fails or the target crashes.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
seconds=${1:-20}
out=${QUORVANE_CACHE:-$HOME/.cache/quorvane}/fuzz
cxx=${CXX_FUZZ:-clang++}

mkdir -p "$out/corpus" "$out/artifacts"
for seed in "$here"/corpus/*; do
    [ -e "$out/corpus/$(basename "$seed")" ] || cp "$seed" "$out/corpus/"
done

# The same warnings and floating-point contract as every other unit of the project.
"$cxx" -std=c++20 -O1 -g -fno-omit-frame-pointer -ffp-contract=off -Wall -Wextra -Werror \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" "$here/float_text_fuzzer.cpp" "$root/core/float_text.cpp" \
    -o "$out/float_text_fuzzer"

# -runs bounds the work on a fast machine as -max_total_time does on a slow one.
"$out/float_text_fuzzer" -max_total_time="$seconds" -runs=20000000 -max_len=16 \
    -artifact_prefix="$out/artifacts/" -print_final_stats=1 "$out/corpus"
