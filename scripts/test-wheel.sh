#!/usr/bin/env bash
# scripts/test-wheel.sh
#
# quorvane as a user installs it. Builds a wheel from the tree and an sdist, checks that the wheel
# carries the module and its stubs, installs it into a fresh virtual environment of the
# free-threaded interpreter, runs the Python tests from a copy outside the source tree (so that
# nothing can be imported from the tree), type-checks examples/ with mypy --strict and pyright
# against the installed stubs, then replaces the wheel with the one pip builds from the sdist and
# runs the quick tests again. Exits non-zero at the first failure.
#
# Everything but pip's cache lives in a temporary folder that is removed at the end. Builds use
# pip's build isolation, as a user's install does, so they need PyPI (or pip's cache) for the
# build requirements of pyproject.toml.
# shellcheck source-path=SCRIPTDIR source=lib/setup.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/setup.sh"
cd "$quorvane_root"
lock_cache
unset PYTHONPATH    # the installed wheel, and only it, must provide quorvane

# Tool versions of this check alone; the test tools, pyright included, come from
# scripts/lib/requirements-test.txt.
build_requirement="build==1.6.1"

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-wheel.XXXXXX")
trap 'rm -rf "$work"' EXIT

# wheel_files WHEEL: the names in a wheel, one a line, without its .dist-info.
wheel_files() {
    "$python" - "$1" <<'EOF'
import sys, zipfile
print("\n".join(sorted(n for n in zipfile.ZipFile(sys.argv[1]).namelist() if ".dist-info/" not in n)))
EOF
}

# check_wheel WHEEL: the module and both stub files, the stubs identical to the tree's, and no
# py.typed that would call them partial (a stub-only package needs no marker at all).
check_wheel() {
    "$python" - "$1" stubs/quorvane-stubs <<'EOF'
import pathlib, re, sys, zipfile
wheel, stubs = zipfile.ZipFile(sys.argv[1]), pathlib.Path(sys.argv[2])
names = set(wheel.namelist())
problems = []
if not any(re.fullmatch(r"quorvane\.cpython-[^/]*\.so", n) for n in names):
    problems.append("no quorvane extension module at the top level")
for stub in sorted(stubs.glob("*.pyi")):
    name = f"quorvane-stubs/{stub.name}"
    if name not in names:
        problems.append(f"{name} is missing")
    elif wheel.read(name) != stub.read_bytes():
        problems.append(f"{name} differs from {stub}")
if "quorvane-stubs/py.typed" in names and b"partial" in wheel.read("quorvane-stubs/py.typed"):
    problems.append("quorvane-stubs/py.typed marks the stubs as partial")
if problems:
    sys.exit(f"{sys.argv[1]}: " + "; ".join(problems))
print(f"{pathlib.Path(sys.argv[1]).name}: module and {len(list(stubs.glob('*.pyi')))} stub files")
EOF
}

# run_tests VENV [PYTEST ARGS...]: pytest in a copy of the tests, docs and examples.
run_tests() {
    local venv=$1
    shift
    (cd "$work/tree" && "$venv/bin/python" -m pytest -q -p no:cacheprovider "$@")
}

# type_check VENV: mypy --strict and pyright on the examples, and both must reject a misuse, which
# they can only do if they read the installed stubs.
type_check() (
    local venv=$1
    cd "$work"    # nothing of the source tree on the checkers' search paths
    cat >"$work/misuse.py" <<'EOF'
from quorvane import Vec3d

Vec3d(1, 2, 3).dot(5)
EOF
    "$venv/bin/python" -m mypy --strict --cache-dir "$work/mypy-cache" "$work/tree/examples"
    if "$venv/bin/python" -m mypy --cache-dir "$work/mypy-cache" "$work/misuse.py" >/dev/null; then
        echo "mypy accepted Vec3d.dot(5): it does not see the stubs" >&2
        return 1
    fi
    export PYRIGHT_PYTHON_IGNORE_WARNINGS=1    # no question to PyPI about a newer release
    "$venv/bin/pyright" --warnings --pythonpath "$venv/bin/python" "$work/tree/examples"
    if "$venv/bin/pyright" --pythonpath "$venv/bin/python" "$work/misuse.py" >/dev/null; then
        echo "pyright accepted Vec3d.dot(5): it does not see the stubs" >&2
        return 1
    fi
)

main() {
    local tools venv wheel sdist from_sdist where
    python=$(free_threaded_python)
    printf '%s\n' "$build_requirement" >"$work/requirements-tools.txt"
    tools=$(prepare_venv "$python" "venv-$(interpreter_tag "$python")-wheel-tools" "$work/requirements-tools.txt")

    section "sdist and wheels"
    "$tools/bin/python" -m build --sdist --outdir "$work/dist" . >&2
    "$tools/bin/python" -m pip wheel -q --no-deps -w "$work/dist" . >&2
    sdist=$(ls "$work"/dist/quorvane-*.tar.gz)
    wheel=$(ls "$work"/dist/quorvane-*.whl)
    "$tools/bin/python" -m pip wheel -q --no-deps -w "$work/from-sdist" "$sdist" >&2
    from_sdist=$(ls "$work"/from-sdist/quorvane-*.whl)
    check_wheel "$wheel"
    check_wheel "$from_sdist"
    if ! [ "$(wheel_files "$wheel")" = "$(wheel_files "$from_sdist")" ]; then
        echo "the wheel built from the sdist holds other files than the one built from the tree" >&2
        diff <(wheel_files "$wheel") <(wheel_files "$from_sdist") >&2 || true
        return 1
    fi

    section "fresh environment with the wheel"
    venv=$work/venv
    "$python" -m venv "$venv"
    "$venv/bin/python" -m pip install -q --only-binary :all: -r scripts/lib/requirements-test.txt
    "$venv/bin/python" -m pip install -q --no-deps --no-index "$wheel"
    where=$(cd "$work" && "$venv/bin/python" -c 'import quorvane; print(quorvane.__file__)')
    case $where in
        "$venv"/*) echo "quorvane from $where" >&2 ;;
        *) echo "quorvane was imported from $where, not from the wheel" >&2; return 1 ;;
    esac

    section "tests outside the source tree"
    mkdir -p "$work/tree"
    cp -r tests docs examples pyproject.toml "$work/tree/"
    find "$work/tree" -name __pycache__ -prune -exec rm -rf {} +
    run_tests "$venv" tests

    section "type checks of examples/ against the installed stubs"
    type_check "$venv"

    # The wheel pip built from the sdist is what `pip install` of the sdist installs; building it
    # a third time would only repeat that build.
    section "the sdist's wheel in place of the tree's"
    "$venv/bin/python" -m pip uninstall -q -y quorvane
    "$venv/bin/python" -m pip install -q --no-deps --no-index "$from_sdist"
    run_tests "$venv" tests/test_module.py tests/test_docs.py tests/test_examples.py
    echo "wheel and sdist: all checks passed (${SECONDS}s)" >&2
}

main "$@"    # read in full before it runs
