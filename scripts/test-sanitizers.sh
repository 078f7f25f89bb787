#!/usr/bin/env bash
# ./scripts/test-sanitizers.sh [tsan] [asan] [refleak]
#
# The module under the sanitizers, and its reference-leak check; with no argument, all three:
#
#   tsan     ThreadSanitizer. A free-threaded CPython built by clang with --with-thread-sanitizer,
#            the module built by the same clang with -fsanitize=thread, and the whole suite under
#            pytest-run-parallel: every test runs in 4 threads at once, except the tests that start
#            threads or processes of their own, which run once, by themselves.
#   asan     AddressSanitizer and UndefinedBehaviorSanitizer. The module built by clang with
#            -fsanitize=address,undefined and no recovery, loaded into the regular free-threaded
#            interpreter with clang's ASan runtime preloaded; the whole suite.
#   refleak  A debug CPython (--with-pydebug, with the GIL) and tests/leaks/check_refleaks.py, which
#            calls every entry point of the module thousands of times and checks that reference
#            counts, allocated blocks and malloc'ed bytes come back to their level.
#
# Any sanitizer report fails its part, also one from a child process: reports are written to
# files (log_path) and the part fails if any file appears. Interpreters, virtual environments and
# build folders live under ${QUORVANE_CACHE:-$HOME/.cache/quorvane}, outside the repository, so a
# second run only rebuilds what changed. CXX_FOR_SANITIZERS names the clang++ to use (clang++ by
# default; the C compiler is the clang beside it). Each part prints a header and its result; the
# exit status is non-zero if any part failed.
source "$(dirname "${BASH_SOURCE[0]}")/lib/setup.sh"
cd "$quorvane_root"

sanitizer_cache=$quorvane_cache/sanitizers
mkdir -p "$sanitizer_cache"
# One run at a time over these build folders and environments. (Not the cache-wide lock of
# scripts/test.sh: that script calls this one while it holds it.)
exec {sanitizer_lock_fd}>"$sanitizer_cache/lock"
if ! flock -n "$sanitizer_lock_fd"; then
    echo "another run holds $sanitizer_cache/lock; waiting for it" >&2
    flock "$sanitizer_lock_fd"
fi

cxx=${CXX_FOR_SANITIZERS:-clang++}
cc=${cxx/%clang++/clang}
cpython_version=3.13.5
export PYTHONDONTWRITEBYTECODE=1    # nothing written into the tree by these runs

parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(tsan asan refleak)
for part in "${parts[@]}"; do
    case $part in
    tsan | asan | refleak) ;;
    *)
        echo "unknown part '$part'; the parts are: tsan asan refleak" >&2
        exit 2
        ;;
    esac
done

# ---- shared steps ----

# cached_cpython NAME EXECUTABLE CONFIGURE_OPTION...: prints the path of a CPython configured with
# those options and installed in the cache under NAME, building it the first time. CC and CXX of
# the environment reach configure.
cached_cpython() {
    local prefix=$quorvane_cache/$1 executable=$2 wanted
    shift 2
    wanted="$cpython_version $* CC=${CC:-} CXX=${CXX:-}"
    if ! [ -x "$prefix/bin/$executable" ] || ! [ "$(cat "$prefix/.quorvane-build" 2>/dev/null)" = "$wanted" ]; then
        rm -rf "$prefix"
        "$quorvane_root/scripts/build-cpython.sh" "$prefix" "$@" >&2
        printf '%s\n' "$wanted" >"$prefix/.quorvane-build"
    fi
    echo "$prefix/bin/$executable"
}

# test_requirements FILE: the test tools of scripts/lib/requirements-test.txt that a sanitizer run
# needs (not mypy; numpy where it is wanted), written to FILE so that the versions stay pinned in
# one place. Prints FILE.
test_requirements() {
    local file=$1 without=$2
    grep -v -E "^(mypy|$without)==" "$quorvane_root/scripts/lib/requirements-test.txt" >"$file.new"
    cmp -s "$file.new" "$file" 2>/dev/null && rm "$file.new" || mv "$file.new" "$file"
    echo "$file"
}

# build_module DIR PYTHON COMPILER SANITIZERS BUILD_TYPE [CMAKE ARGS...]: builds the extension
# for PYTHON in DIR (kept, so a rebuild is incremental; made anew when anything else changed) and
# checks that PYTHON imports it from there, with the variables of the array import_env set (a
# sanitizer runtime that the interpreter must preload, for one).
build_module() {
    local dir=$1 python=$2 compiler=$3 sanitize=$4 build_type=$5 identity
    shift 5
    identity=$(printf '%s\n' "$quorvane_root" "$("$python" -c 'import sys; print(sys.executable, sys.version)')" \
        "$compiler" "$sanitize" "$build_type" "$*")
    if [ -d "$dir" ] && ! [ "$(cat "$dir/.quorvane-build" 2>/dev/null)" = "$identity" ]; then
        rm -rf "$dir"
    fi
    mkdir -p "$dir"
    echo "building the module in $dir (${sanitize:-no sanitizer}, $compiler, $build_type)" >&2
    cmake -S "$quorvane_root" -B "$dir" -G Ninja -DPython_EXECUTABLE="$python" -DCMAKE_CXX_COMPILER="$compiler" \
        -DQUORVANE_SANITIZE="$sanitize" -DCMAKE_BUILD_TYPE="$build_type" "$@" >/dev/null
    printf '%s\n' "$identity" >"$dir/.quorvane-build"
    cmake --build "$dir" -j2 --target quorvane >&2
    (cd / && env ${import_env[@]+"${import_env[@]}"} PYTHONPATH=$dir "$python" -c 'import sys, quorvane
assert quorvane.__file__.startswith(sys.argv[1]), quorvane.__file__
print("quorvane from", quorvane.__file__)' "$dir") >&2
}

# fresh_reports DIR: an empty folder for the sanitizer reports of one run.
fresh_reports() {
    rm -rf "$1"
    mkdir -p "$1"
}

# check_reports DIR TOOL: fails, showing them, when the run left reports in DIR. A file that holds
# nothing but the runtime's own notes is not a report: AddressSanitizer's that an allocation
# failed (the tests that ask for more memory than there is expect that, and see MemoryError), and
# the symbolizer's that a name did not fit its buffer (a child process symbolizing its own frames
# at exit; it reports no fault).
check_reports() {
    local dir=$1 tool=$2 file found=0
    local notes='^==[0-9]+==WARNING: (AddressSanitizer failed to allocate 0x[0-9a-f]+ bytes|Symbolizer buffer too small)$'
    for file in "$dir"/*; do
        [ -s "$file" ] || continue
        grep -q -v -E "$notes" "$file" || continue
        found=$((found + 1))
        echo "---- $tool report: $file" >&2
        head -120 "$file" >&2
    done
    if [ "$found" -gt 0 ]; then
        echo "$tool wrote $found report(s); the first frames in src/ or core/ name the fault" >&2
        return 1
    fi
}

# pytest_options: what every sanitizer run of the suite passes to pytest.
pytest_options() {
    printf '%s\n' tests -p no:cacheprovider -p sanitizer_plugin --durations=15
}

# ---- the parts ----

part_tsan() {
    debian_packages clang libclang-rt-14-dev
    local python venv build reports status=0 run=()
    # The new interpreter runs while it is built (the standard library is compiled with it); its
    # own races are not what this run is about, so the build does not report them.
    python=$(CC=$cc CXX=$cxx TSAN_OPTIONS=report_bugs=0 cached_cpython "cpython-$cpython_version-ft-tsan" \
        python3.13t --disable-gil --with-thread-sanitizer)
    echo "ThreadSanitizer interpreter: $python" >&2
    # Setting up runs pip and cmake's interpreter probe on that interpreter: no reports there either.
    export TSAN_OPTIONS=report_bugs=0
    venv=$(prepare_venv "$python" venv-cp313t-tsan "$quorvane_root/scripts/lib/requirements-build.txt" \
        "$(test_requirements "$sanitizer_cache/requirements-tsan.txt" numpy)" \
        "$quorvane_root/tests/sanitizers/requirements.txt")
    build=$sanitizer_cache/build-tsan
    PATH=$venv/bin:$PATH build_module "$build" "$python" "$cxx" thread RelWithDebInfo

    # Older sanitizer runtimes cannot place their shadow memory under a kernel's larger
    # address-space randomisation; such a machine runs the suite with randomisation off.
    if "$venv/bin/python" -c '' 2>&1 | grep -q "unexpected memory mapping"; then
        echo "ThreadSanitizer cannot map its shadow memory here; running with randomisation off" >&2
        run=(setarch "$(uname -m)" -R)
    fi

    reports=$sanitizer_cache/reports-tsan
    fresh_reports "$reports"
    # halt_on_error/exitcode: the first report ends the process with a status of its own;
    # log_path: reports of child processes land beside those of pytest itself;
    # allocator_may_return_null: an allocation that cannot be had fails as it does without the
    # sanitizer (the tests that limit a child's address space expect MemoryError).
    export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 allocator_may_return_null=1 \
log_path=$reports/tsan suppressions=$quorvane_root/tests/sanitizers/tsan.supp"
    # Tests that start threads or processes of their own are already concurrent: the plugin runs
    # those once. It finds them by the calls below in the test or in what the test calls (two
    # levels deep). doctest swaps sys.stdout while it runs, so the doc pages and the stubs'
    # examples run once too.
    local unsafe="threading.Thread
concurrent.futures.ThreadPoolExecutor
subprocess.run
subprocess.Popen
subprocess.check_output
subprocess.check_call
os.fork
multiprocessing.Process
doctest.testfile
doctest.testmod
doctest.DocTestRunner
conftest.race"
    # QUORVANE_TEST_WORK: a fifth of the work in the tests with large inputs and long loops, and
    # five times their time limits; calls run many times slower here.
    QUORVANE_TEST_WORK=0.2 PYTHONPATH=$build:$quorvane_root/tests/sanitizers PYTEST_RUN_PARALLEL_VERBOSE=1 \
        "${run[@]}" "$venv/bin/python" -m pytest $(pytest_options) --parallel-threads=4 \
        -o "thread_unsafe_functions=$unsafe" || status=$?
    check_reports "$reports" ThreadSanitizer || status=1
    unset TSAN_OPTIONS
    return "$status"
}

part_asan() {
    debian_packages clang libclang-rt-14-dev
    local python venv build reports runtime status=0
    python=$(free_threaded_python)
    echo "interpreter: $python (regular free-threaded build; clang's ASan runtime preloaded)" >&2
    venv=$(prepare_venv "$python" venv-cp313t-asan "$quorvane_root/scripts/lib/requirements-build.txt" \
        "$(test_requirements "$sanitizer_cache/requirements-asan.txt" '')")
    runtime=$("$cxx" -print-file-name=libclang_rt.asan-x86_64.so)
    [ -f "$runtime" ] || {
        echo "clang's ASan runtime is missing ($runtime); install libclang-rt-14-dev" >&2
        return 1
    }
    build=$sanitizer_cache/build-asan
    local import_env=(LD_PRELOAD="$runtime" ASAN_OPTIONS=detect_leaks=0)
    PATH=$venv/bin:$PATH build_module "$build" "$python" "$cxx" address,undefined RelWithDebInfo \
        -DCMAKE_CXX_FLAGS=-fno-sanitize-recover=all

    reports=$sanitizer_cache/reports-asan
    fresh_reports "$reports"
    # detect_leaks=0: the interpreter keeps what it allocated until exit, by design; leaks of the
    # module are the refleak part's business. allocator_may_return_null: as for ThreadSanitizer.
    # PYTHONMALLOC=debug adds the interpreter's own checks on its allocator: guard bytes around
    # each block, and that every call into it comes from a thread attached to the interpreter
    # (never from a worker of the pool).
    LD_PRELOAD=$runtime PYTHONMALLOC=debug PYTHONPATH=$build:$quorvane_root/tests/sanitizers \
        ASAN_OPTIONS="detect_leaks=0 halt_on_error=1 allocator_may_return_null=1 log_path=$reports/asan" \
        UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1 log_path=$reports/ubsan" \
        "$venv/bin/python" -m pytest $(pytest_options) || status=$?
    check_reports "$reports" "AddressSanitizer/UndefinedBehaviorSanitizer" || status=1
    return "$status"
}

part_refleak() {
    local python venv build log status=0
    python=$(cached_cpython "cpython-$cpython_version-debug" python3.13d --with-pydebug)
    echo "debug interpreter: $python" >&2
    venv=$(prepare_venv "$python" venv-cp313d "$quorvane_root/scripts/lib/requirements-build.txt")
    build=$sanitizer_cache/build-refleak
    # The compiler of the regular build; Debug keeps the interpreter's own assertions in its
    # inline functions switched on.
    PATH=$venv/bin:$PATH build_module "$build" "$python" "${CXX:-c++}" "" Debug
    log=$sanitizer_cache/refleak-native-stderr.log
    rm -f "$log"
    (cd / && PYTHONPATH=$build "$python" "$quorvane_root/tests/leaks/check_refleaks.py" --native-log "$log") ||
        status=$?
    return "$status"
}

# ---- running them ----

passed=()
failed=()
for part in "${parts[@]}"; do
    case $part in
    tsan) title="ThreadSanitizer (free-threaded CPython built with it; the suite under pytest-run-parallel)" ;;
    asan) title="AddressSanitizer + UndefinedBehaviorSanitizer (the whole suite)" ;;
    refleak) title="reference leaks (debug CPython)" ;;
    esac
    section "$title"
    started=$SECONDS
    set +e
    (set -e; "part_$part")
    status=$?
    set -e
    took=$((SECONDS - started))
    if [ "$status" -eq 0 ]; then
        echo "PASSED: $part (${took}s)" >&2
        passed+=("$part (${took}s)")
    else
        echo "FAILED: $part (exit status $status, ${took}s)" >&2
        failed+=("$part (${took}s)")
    fi
done

section "sanitizer summary"
for name in "${passed[@]}"; do echo "ok       $name"; done
for name in "${failed[@]}"; do echo "FAILED   $name"; done
[ ${#failed[@]} -eq 0 ]
