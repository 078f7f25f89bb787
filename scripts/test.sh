#!/usr/bin/env bash
# ./scripts/test.sh [PYTEST ARGS...]
#
# Installs what the tests need and runs all of them: the C++ tests (and the pool under
# ThreadSanitizer), then on the free-threaded interpreter the Python tests, the type stubs and the
# README's example, and the Python tests again on a regular (GIL) CPython 3.13+ when the machine
# has one; the fuzzer; the suite under ThreadSanitizer, AddressSanitizer + UBSan and the
# reference-leak check (scripts/test-sanitizers.sh); the wheel and sdist. Runs as root with no
# input, from a clean clone with ../shared beside it.
# Arguments are passed on to pytest. A failing suite does not stop the others; the exit status
# is non-zero if any failed. QUORVANE_SANITIZERS=0 leaves the sanitizer runs out (they take about
# twenty minutes, and longer the first time, when their interpreters are built).
# shellcheck source-path=SCRIPTDIR source=lib/setup.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/setup.sh"
cd "$quorvane_root"
lock_cache

passed=()
failed=()
skipped=()

# stage NAME COMMAND...: runs one suite in a subshell with errexit in force, and records it.
stage() {
    local name=$1 status=0
    shift
    section "$name"
    set +e
    (set -e; "$@")
    status=$?
    set -e
    if [ "$status" -eq 0 ]; then
        passed+=("$name")
    else
        echo "FAILED: $name (exit status $status)" >&2
        failed+=("$name")
    fi
    return 0
}

cpp_tests() {
    cmake -S . -B build/cpp -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DQUORVANE_BUILD_MODULE=OFF -DQUORVANE_BUILD_TESTS=ON >/dev/null
    cmake --build build/cpp -j"$(nproc)"
    # --timeout: a limit for any test that has none of its own (tests/cpp sets one for each).
    ctest --test-dir build/cpp --output-on-failure --no-tests=error --timeout 300 -j"$(nproc)"
}

pytest_in() {    # pytest_in VENV [PYTEST ARGS...]
    local venv=$1
    shift
    "$venv/bin/python" -m pytest tests "$@"
}

type_checkers() {
    # The stubs as a user's type checkers see them: mypy --strict and pyright on the examples, the
    # docs' examples and a typed snippet, which then runs for real. pyright reads its settings from
    # pyproject.toml; PYRIGHT_PYTHON_IGNORE_WARNINGS keeps it from asking PyPI for a newer release.
    local venv=$1 checked=(examples build/typing/docs tests/typing/check_types.py)
    "$venv/bin/python" tests/doc_pages.py build/typing/docs
    "$venv/bin/python" -m mypy --strict "${checked[@]}"
    PYRIGHT_PYTHON_IGNORE_WARNINGS=1 "$venv/bin/pyright" --pythonpath "$venv/bin/python" "${checked[@]}"
    "$venv/bin/python" tests/typing/check_types.py
}

main() {
    local venv gil gil_venv module_built failures_before
    section "Debian packages"
    debian_packages build-essential libgtest-dev clang libclang-rt-14-dev

    section "free-threaded interpreter and test environment"
    venv=$(free_threaded_venv)
    export PATH=$venv/bin:$PATH    # cmake, ninja and ctest of the pinned versions

    stage "module build (free-threaded)" install_quorvane "$venv"
    module_built=$([ ${#failed[@]} -eq 0 ] && echo yes || echo no)
    if [ "$module_built" = yes ]; then
        stage "module keeps the GIL disabled" check_gil_disabled "$venv"
    fi

    stage "C++ tests" cpp_tests
    if [ -e scripts/test-pool-tsan.sh ]; then
        # A build folder inside this tree: one in the shared cache would be configured for
        # whichever clone made it first, and CMake refuses another source folder.
        stage "C++ pool tests under ThreadSanitizer" bash scripts/test-pool-tsan.sh build/pool-tsan
    else
        section "C++ pool tests under ThreadSanitizer"
        echo "scripts/test-pool-tsan.sh is not in this tree; skipped" >&2
        skipped+=("C++ pool tests under ThreadSanitizer")
    fi

    if [ "$module_built" = yes ]; then
        stage "Python tests (free-threaded)" pytest_in "$venv" "$@"
        export MYPY_CACHE_DIR=build/mypy-cache
        stage "type stubs: stubtest quorvane" \
            "$venv/bin/python" -m mypy.stubtest quorvane --allowlist stubs/stubtest-allowlist.txt
        stage "type stubs: stubtest of what an import cannot reach" \
            "$venv/bin/python" tests/typing/stubtest_hidden.py
        stage "type checkers: mypy --strict and pyright on examples/, docs/ and tests/typing" \
            type_checkers "$venv"
        stage "README example" "$venv/bin/python" -m doctest README.md
    else
        skipped+=("Python tests, type stubs and README example (free-threaded): the module did not build")
    fi

    section "regular (GIL) interpreter"
    gil=$(gil_python)
    if [ -z "$gil" ]; then
        echo "no regular (GIL) CPython 3.13+ on this machine: the GIL build is not tested" >&2
        skipped+=("Python tests (GIL): no regular CPython 3.13+ found")
    else
        echo "regular interpreter: $gil" >&2
        gil_venv=$(prepare_venv "$gil" "venv-$(interpreter_tag "$gil")" \
            scripts/lib/requirements-build.txt scripts/lib/requirements-test.txt \
            scripts/lib/requirements-test-gil.txt)
        failures_before=${#failed[@]}
        stage "module build (GIL)" install_quorvane "$gil_venv"
        if [ "${#failed[@]}" -eq "$failures_before" ]; then
            stage "Python tests (GIL)" pytest_in "$gil_venv" "$@"
        fi
    fi

    stage "fuzzing the float-to-text rule (libFuzzer)" bash tests/fuzz/run.sh 20
    if [ "${QUORVANE_SANITIZERS:-1}" = 0 ]; then
        skipped+=("sanitizers and reference leaks: QUORVANE_SANITIZERS=0")
    else
        stage "sanitizers: ThreadSanitizer, AddressSanitizer + UBSan, reference leaks" bash scripts/test-sanitizers.sh
    fi
    if [ -e scripts/test-wheel.sh ]; then
        stage "the wheel and the sdist, installed outside the tree" bash scripts/test-wheel.sh
    fi

    section "summary"
    for name in "${passed[@]}"; do echo "ok       $name"; done
    for name in "${skipped[@]}"; do echo "skipped  $name"; done
    for name in "${failed[@]}"; do echo "FAILED   $name"; done
    echo "took ${SECONDS}s"
    [ ${#failed[@]} -eq 0 ]
}

# Everything runs from main, so the whole file is read before anything runs: editing or checking
# out this script during a run cannot change what the run does.
main "$@"
