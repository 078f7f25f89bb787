#!/usr/bin/env bash
# ./bench/scalar.sh [ARGS...]
#
# bench/scalar.py on the free-threaded interpreter (numpy as the peer), then on a regular CPython
# 3.13+ where PyGLM installs too, each in its cached environment with quorvane built for it.
# ARGS go to both runs (e.g. --quick); the results are also written to bench/out/scalar-TAG.json.
# shellcheck source-path=SCRIPTDIR source=../scripts/lib/setup.sh
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib/setup.sh"
cd "$quorvane_root"
lock_cache
mkdir -p bench/out

# OPENBLAS_CORETYPE and OPENBLAS_L2_SIZE may be set on this kind of machine for old OpenBLAS
# builds; they slow a current numpy, so the measured runs go without them.
run_bench() {    # run_bench VENV TAG [ARGS...]
    local venv=$1 tag=$2
    shift 2
    env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE "$venv/bin/python" bench/scalar.py \
        --json "bench/out/scalar-$tag.json" "$@"
}

main() {
    local venv tag gil gil_venv
    section "set-up (free-threaded)"
    debian_packages build-essential
    venv=$(free_threaded_venv)
    install_quorvane "$venv"
    check_gil_disabled "$venv"
    tag=$(interpreter_tag "$venv/bin/python")

    section "bench/scalar.py on the free-threaded interpreter"
    run_bench "$venv" "$tag" "$@"

    section "set-up (regular interpreter, with PyGLM)"
    gil=$(gil_python)
    if [ -z "$gil" ]; then
        echo "no regular (GIL) CPython 3.13+ on this machine: PyGLM is not measured" >&2
        return 0
    fi
    tag=$(interpreter_tag "$gil")
    gil_venv=$(prepare_venv "$gil" "venv-$tag-bench" scripts/lib/requirements-build.txt bench/requirements-gil.txt)
    install_quorvane "$gil_venv" "$tag-bench"

    section "bench/scalar.py on the regular interpreter"
    run_bench "$gil_venv" "$tag" "$@"
}

main "$@"    # read in full before it runs
