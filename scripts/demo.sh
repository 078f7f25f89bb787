#!/usr/bin/env bash
# ./scripts/demo.sh [ARGS...]
#
# Sets up what the module needs (the free-threaded interpreter, built if missing, and its cached
# environment), builds and installs quorvane, then runs examples/demo.py with ARGS.
# shellcheck source-path=SCRIPTDIR source=lib/setup.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/setup.sh"
cd "$quorvane_root"
lock_cache

main() {
    local venv
    section "set-up"
    debian_packages build-essential
    venv=$(free_threaded_venv)
    install_quorvane "$venv"
    check_gil_disabled "$venv"

    section "examples/demo.py"
    "$venv/bin/python" examples/demo.py "$@"
}

main "$@"    # read in full before it runs
