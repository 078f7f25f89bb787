# shellcheck shell=bash
# scripts/lib/setup.sh — sourced by scripts/test.sh, scripts/demo.sh and bench/scalar.sh.
#
# The one place that prepares a machine for quorvane: Debian packages, the free-threaded
# interpreter, virtual environments cached outside the repository, and the module built and
# installed into them. Every function logs to stderr; the ones that find something print it on
# stdout. Nothing here commits to a policy on failure: the calling script decides.

set -euo pipefail
shopt -s inherit_errexit    # a failure inside $(...) fails the assignment, as it reads

quorvane_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
quorvane_cache=${QUORVANE_CACHE:-${HOME:-/root}/.cache/quorvane}
mkdir -p "$quorvane_cache"

export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INPUT=1 PIP_PROGRESS_BAR=off
export DEBIAN_FRONTEND=noninteractive

# section TITLE: a header that stands out in a CI log, with the seconds since the script began.
section() {
    printf '\n==== %s  [%ss]\n' "$*" "$SECONDS" >&2
}

# lock_cache: one run at a time per cache. Runs from several clones (or engineers) share the
# virtual environments, and a reinstall under a running test would pull the module away from it.
# The lock is held until the calling script exits; a script started under it (which inherits
# QUORVANE_CACHE_LOCKED) already has it.
lock_cache() {
    [ "${QUORVANE_CACHE_LOCKED:-}" = "$quorvane_cache" ] && return 0
    exec {quorvane_lock_fd}>"$quorvane_cache/lock"
    if ! flock -n "$quorvane_lock_fd"; then
        echo "another quorvane run holds $quorvane_cache/lock; waiting for it" >&2
        flock "$quorvane_lock_fd"
    fi
    export QUORVANE_CACHE_LOCKED=$quorvane_cache
}

# debian_packages PACKAGE...: installs those that are missing.
debian_packages() {
    "$quorvane_root/scripts/apt-install.sh" "$@"
}

# free_threaded_python: prints the path of a free-threaded CPython, building one if needed.
free_threaded_python() {
    "$quorvane_root/scripts/free-threaded-python.sh"
}

# interpreter_tag PYTHON: cp313t for a free-threaded 3.13, cp313 for a regular one.
interpreter_tag() {
    "$1" -c 'import sys, sysconfig
print("cp%d%d%s" % (sys.version_info[0], sys.version_info[1],
                    "t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""))'
}

# gil_python: prints the newest regular (GIL) CPython 3.13 or later on this machine, or nothing.
# $QUORVANE_GIL_PYTHON, when set, is taken as it is and must be such an interpreter.
gil_python() {
    local check='import sys, sysconfig
sys.exit(0 if sys.version_info >= (3, 13) and not sysconfig.get_config_var("Py_GIL_DISABLED") else 1)'
    if [ -n "${QUORVANE_GIL_PYTHON:-}" ]; then
        "$QUORVANE_GIL_PYTHON" -c "$check" || {
            echo "QUORVANE_GIL_PYTHON=$QUORVANE_GIL_PYTHON is not a regular CPython 3.13+" >&2
            return 1
        }
        echo "$QUORVANE_GIL_PYTHON"
        return 0
    fi
    local candidate found=()
    for candidate in "${HOME:-/root}"/.pyenv/versions/3.*/bin/python3.* /usr/local/bin/python3.* \
        /usr/bin/python3.*; do
        if ! [[ $candidate =~ /python3\.[0-9]+$ && -x $candidate ]]; then continue; fi
        "$candidate" -c "$check" 2>/dev/null || continue
        found+=("$("$candidate" -c 'import sys; print("%d.%d.%d" % sys.version_info[:3], sys.executable)')")
    done
    [ ${#found[@]} -gt 0 ] || return 0
    printf '%s\n' "${found[@]}" | sort -V | tail -1 | cut -d' ' -f2-
}

# prepare_venv PYTHON NAME REQUIREMENTS_FILE...: prints the path of the virtual environment
# $quorvane_cache/NAME made from PYTHON, with the requirements installed. The environment is made
# anew when the interpreter behind it changes; pip runs only when the requirement files changed.
prepare_venv() {
    local python=$1 name=$2
    shift 2
    local venv=$quorvane_cache/$name identity wanted file
    identity=$("$python" -c 'import os, sys; print(os.path.realpath(sys.executable)); print(sys.version)')
    if ! [ "$(cat "$venv/.quorvane-interpreter" 2>/dev/null)" = "$identity" ] ||
        ! "$venv/bin/python" -c '' 2>/dev/null; then
        echo "creating the virtual environment $venv" >&2
        rm -rf "$venv"
        "$python" -m venv "$venv" >&2
        printf '%s\n' "$identity" >"$venv/.quorvane-interpreter"
    fi
    wanted=$(cat "$@" | sha256sum | cut -d' ' -f1)
    if ! [ "$(cat "$venv/.quorvane-requirements" 2>/dev/null)" = "$wanted" ]; then
        local args=()
        for file in "$@"; do args+=(-r "$file"); done
        echo "installing into $venv: $(grep -hv '^#' "$@" | tr '\n' ' ')" >&2
        # Wheels only, unless a requirement file names the exceptions (--no-binary): a source build
        # may need a toolchain that fetches from elsewhere.
        "$venv/bin/python" -m pip install -q --only-binary :all: "${args[@]}" >&2
        echo "$wanted" >"$venv/.quorvane-requirements"
    fi
    echo "$venv"
}

# install_quorvane VENV [BUILD_NAME]: builds the module in build/BUILD_NAME (the interpreter's tag
# by default; kept, so a rebuild is incremental) and installs it, with its stubs, into VENV; then
# imports it from outside the source tree.
install_quorvane() {
    local venv=$1 build_dir identity
    build_dir=$quorvane_root/build/${2:-$(interpreter_tag "$venv/bin/python")}
    identity=$(cat "$venv/.quorvane-interpreter")
    if [ -d "$build_dir" ] && ! [ "$(cat "$build_dir/.quorvane-interpreter" 2>/dev/null)" = "$identity" ]; then
        rm -rf "$build_dir"    # configured for another interpreter
    fi
    mkdir -p "$build_dir"
    printf '%s\n' "$identity" >"$build_dir/.quorvane-interpreter"
    echo "building quorvane in ${build_dir#"$quorvane_root"/}" >&2
    PATH=$venv/bin:$PATH "$venv/bin/python" -m pip install -q --no-build-isolation --no-deps \
        --force-reinstall -Cbuild-dir="$build_dir" "$quorvane_root" >&2
    (cd / && "$venv/bin/python" -c 'import sys, quorvane
print("quorvane from", quorvane.__file__, "on", sys.version.split()[0],
      "GIL enabled" if sys._is_gil_enabled() else "GIL disabled")') >&2
}

# check_gil_disabled VENV: the module must not turn the GIL back on in a free-threaded interpreter.
check_gil_disabled() {
    (cd / && "$1/bin/python" -c 'import sys, quorvane; assert not sys._is_gil_enabled(), "importing quorvane enabled the GIL"')
}

# free_threaded_venv: the free-threaded interpreter (built if needed) and its environment with
# the build and test tools; prints the environment's path. The module is not installed yet.
free_threaded_venv() {
    local python tag
    python=$(free_threaded_python)
    tag=$(interpreter_tag "$python")
    echo "free-threaded interpreter: $python ($("$python" -c 'import sys; print(sys.version.split()[0])'))" >&2
    prepare_venv "$python" "venv-$tag" "$quorvane_root/scripts/lib/requirements-build.txt" \
        "$quorvane_root/scripts/lib/requirements-test.txt" "$quorvane_root/scripts/lib/requirements-test-ft.txt"
}
