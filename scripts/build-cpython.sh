#!/usr/bin/env bash
# build-cpython.sh PREFIX [configure options...]
# Builds CPython from the checked source tarball into PREFIX. Used for the free-threaded
# interpreter and for the sanitizer and debug interpreters.
# The install goes to a staging folder beside PREFIX and is renamed into place only once it is
# complete, with the stamp file PREFIX/.quorvane-installed: a build killed at any point leaves no
# PREFIX that a later run could mistake for a working interpreter.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source_dir=${QUORVANE_CPYTHON_SOURCE:-$here/../shared/cpython}
version=3.13.5
prefix=$1
shift

tarball=$source_dir/Python-$version.tar.xz
(cd "$source_dir" && sha256sum --check --quiet SHA256SUMS) || {
    echo "checksum of $tarball does not match SHA256SUMS" >&2
    exit 1
}

"$here/scripts/apt-install.sh" build-essential pkg-config libssl-dev zlib1g-dev libffi-dev \
    libbz2-dev liblzma-dev libsqlite3-dev libreadline-dev uuid-dev

mkdir -p "$(dirname "$prefix")"
work=$(mktemp -d)
# On the same file system as PREFIX, so that the final rename is a single step.
staging=$(mktemp -d "$prefix.staging.XXXXXX")
trap 'rm -rf "$work" "$staging"' EXIT
tar -xJf "$tarball" -C "$work"
cd "$work/Python-$version"
echo "building CPython $version ($*) into $prefix" >&2
./configure --prefix="$prefix" "$@" >"$work/configure.log" 2>&1 || { tail -50 "$work/configure.log" >&2; exit 1; }
make -j"$(nproc)" >"$work/make.log" 2>&1 || { tail -50 "$work/make.log" >&2; exit 1; }
# DESTDIR keeps the configured prefix in every installed path while the files land in staging.
make install DESTDIR="$staging" >"$work/install.log" 2>&1 || { tail -50 "$work/install.log" >&2; exit 1; }
printf '%s %s\n' "$version" "$*" >"$staging$prefix/.quorvane-installed"
rm -rf "$prefix"
mv "$staging$prefix" "$prefix"
