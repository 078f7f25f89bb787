"""The examples run as a newcomer runs them, on a smaller cloud, and say what they should."""

from __future__ import annotations

import importlib.util
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

EXAMPLES = Path(__file__).resolve().parents[1] / "examples"
STEPS = [
    "load the cloud",
    "rotate into the site frame (rotated)",
    "nearest point, stride 1 (minimum_distance_to)",
    "nearest point, stride 16",
    "ranges from the mast (distance_to_array)",
    "surface normals (normalize)",
    "unit normals (is_unit_array)",
    "face normals (take_triangles, cross_elementwise)",
    "two range circles (circle_circle) (per call)",
    "plumb line to the mean plane (plane_line) (per call)",
]
# Runs the demo with numpy made unimportable, as on a machine without it.
WITHOUT_NUMPY = (
    "import runpy, sys; sys.modules['numpy'] = None; sys.argv = sys.argv[1:]; "
    "runpy.run_path(sys.argv[0], run_name='__main__')"
)
HAVE_NUMPY = importlib.util.find_spec("numpy") is not None


def run(*command: str) -> subprocess.CompletedProcess[str]:
    # Outside the source tree, so the example imports quorvane as installed (or from PYTHONPATH).
    return subprocess.run([sys.executable, *command], capture_output=True, text=True, timeout=600,
                          cwd=Path(__file__).anchor, env=dict(os.environ, PYTHONIOENCODING="utf-8"))


def number(pattern: str, report: str) -> float:
    found = re.search(pattern, report)
    assert found, f"no match for {pattern!r} in\n{report}"
    return float(found.group(1).replace(",", ""))


@pytest.fixture(scope="module", params=[
    pytest.param(True, id="with-numpy", marks=pytest.mark.skipif(not HAVE_NUMPY, reason="numpy is not installed")),
    pytest.param(False, id="without-numpy"),
])
def demo(request: pytest.FixtureRequest) -> tuple[bool, str]:
    with_numpy: bool = request.param
    arguments = [str(EXAMPLES / "demo.py"), "--points", "20000", "--seed", "3"]
    done = run(*arguments) if with_numpy else run("-c", WITHOUT_NUMPY, *arguments)
    assert done.returncode == 0, done.stderr
    assert done.stderr == ""  # no warnings either
    return with_numpy, done.stdout


class TestDemo:
    def test_header_names_the_cloud_and_the_peer(self, demo: tuple[bool, str]) -> None:
        with_numpy, report = demo
        first, second = report.splitlines()[:2]
        assert first == "quorvane demo: a terrain scan of 20,000 points (seed 3)"
        assert ("numpy 2." in second) == with_numpy and ("numpy not installed" in second) != with_numpy
        assert "the cloud        20,000 points: 141 scan lines of 142, 0.1 m apart" in report

    def test_every_step_is_timed_with_numpy_beside_it_or_said_missing(self, demo: tuple[bool, str]) -> None:
        with_numpy, report = demo
        table = report[report.index("timings on this machine"):].splitlines()[1:len(STEPS) + 1]
        assert [row.strip().startswith(step) for row, step in zip(table, STEPS)] == [True] * len(STEPS)
        for row in table:
            figures = re.findall(r"\d+\.\d\d (?:us|ms)", row)
            assert len(figures) == (2 if with_numpy else 1), row
            assert row.endswith("numpy not installed") != with_numpy, row
        assert ("VecList.from_array" in table[0]) == with_numpy

    def test_stride_one_is_exact_and_the_coarse_search_says_what_it_trades(self, demo: tuple[bool, str]) -> None:
        with_numpy, report = demo
        exact = number(r"stride 1: point [\d,]+ at (\d+\.\d+) m, exact", report)
        coarse = number(r"stride 16: point [\d,]+ at (\d+\.\d+) m", report)
        assert 1.8 < exact <= coarse  # the drone hovers two metres over noisy ground
        assert "from 1,282 distances instead of 20,000" in report  # 1,250 coarse + 32 in the window
        assert "the stride trades certainty for speed" in report
        if with_numpy:
            assert "numpy's two-pass search finds the same points at the same distances: True" in report

    def test_rotation_round_trip_and_geometry_land_where_they_should(self, demo: tuple[bool, str]) -> None:
        _, report = demo
        assert number(r"there and back moves no point by more than (\S+) m", report) < 1e-12
        assert number(r"the drone is (\S+) m from one of them", report) < 1e-12
        assert 1.0 < number(r"(\d+\.\d+) m below the drone", report) < 4.0
        assert "mesh             39,198 triangles over the complete scan lines" in report  # 2 x 139 x 141
        assert number(r"the steepest face (\d+\.\d) degrees", report) < 60.0
        units = number(r"is_unit holds for ([\d,]+):", report)
        assert 0.5 * 20000 < units <= 20000

    def test_a_cloud_too_small_is_refused(self) -> None:
        done = run(str(EXAMPLES / "demo.py"), "--points", "3")
        assert done.returncode == 2 and "--points must be at least 4" in done.stderr


def test_dask_scale_out_agrees_with_one_process() -> None:
    if importlib.util.find_spec("dask") is None or importlib.util.find_spec("distributed") is None:
        pytest.skip("dask.distributed is not installed for this interpreter")
    done = run(str(EXAMPLES / "dask_scale_out.py"), "--points", "20000", "--chunks", "4", "--seed", "5")
    assert done.returncode == 0, done.stdout + done.stderr
    checks = [line for line in done.stdout.splitlines() if line.startswith("check ")]
    assert [line.split(None, 1)[1] for line in checks] == [
        "nearest point: the same index and distance as one process",
        "farthest point: the same index and distance as one process",
        "mean distance: within 1e-13 of one process",
        "rotated cloud: the same bits as one process",
        "array nearest: quorvane_dask.nearest agrees with one process",
    ]
    assert "20,000 points back from 2 workers" in done.stdout
