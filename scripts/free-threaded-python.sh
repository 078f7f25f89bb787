#!/usr/bin/env bash
# Prints the path of a free-threaded CPython (3.13+), building one when none is found.
# Order: $PYTHON, python3.14t/python3.13t on PATH, the cached build, then a fresh build
# from the source tarball in ../shared/cpython into the cache (outside the repository).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cache=${QUORVANE_CACHE:-$HOME/.cache/quorvane}
source_dir=${QUORVANE_CPYTHON_SOURCE:-$here/../shared/cpython}
version=3.13.5
prefix=$cache/cpython-$version-ft

is_free_threaded() {
    "$1" -c 'import sys, sysconfig; sys.exit(0 if sysconfig.get_config_var("Py_GIL_DISABLED") else 1)' 2>/dev/null
}

if [ -n "${PYTHON:-}" ]; then
    if ! is_free_threaded "$PYTHON"; then
        echo "PYTHON=$PYTHON is not a free-threaded interpreter" >&2
        exit 1
    fi
    command -v "$PYTHON"
    exit 0
fi

for candidate in python3.14t python3.13t; do
    if found=$(command -v "$candidate" 2>/dev/null) && is_free_threaded "$found"; then
        echo "$found"
        exit 0
    fi
done

# The stamp is written by build-cpython.sh only after a complete install: without it the prefix is
# what an interrupted build left behind, and is built again.
if [ -e "$prefix/.quorvane-installed" ] && is_free_threaded "$prefix/bin/python3.13t"; then
    echo "$prefix/bin/python3.13t"
    exit 0
fi

"$here/scripts/build-cpython.sh" "$prefix" --disable-gil >&2
echo "$prefix/bin/python3.13t"
