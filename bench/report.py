"""VecList batch throughput beside numpy over list lengths: a Markdown report and a log-log plot.

Runs the rows of bench/batch.py (the same operations, operands and timing) for every size, then
writes bench/out/report.md (a table per size and a summary of the ratios), bench/out/report.json
(the raw figures) and bench/out/throughput.png (elements per second against n, quorvane and numpy,
for a few representative operations). matplotlib is needed for the plot only; without it the
report says so and the tables are still written.

    python bench/report.py [--sizes N [N ...]] [--repeat N] [--plot OPERATION ...] [--publish]
    python bench/report.py --from-json bench/out/report.json    # redraw from saved figures

--publish also copies the plot to docs/throughput.png, the picture the documentation shows.
"""

from __future__ import annotations

import argparse
import datetime
import json
import os
import platform
import shutil
import sys
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent
OUT = HERE / "out"
DOCS_PNG = HERE.parent / "docs" / "throughput.png"
PLOTTED = ["v + w", "dot", "normalize", "rotate", "minimum_distance_to(p, 1)"]


def measure(sizes: list[int], repeat: int) -> dict[str, Any]:
    """Every row of bench/batch.py at every size, in the layout batch.py --json writes."""
    sys.path.insert(0, str(HERE))
    import batch  # bench/batch.py: its rows, operands and timing are the measurement

    gil = "enabled" if getattr(sys, "_is_gil_enabled", lambda: True)() else "disabled"
    load = os.getloadavg()[0]
    print(f"Python {platform.python_version()}, GIL {gil}, numpy {batch.np.__version__}, "
          f"pool workers: {batch.worker_count()}, load average {load:.2f} on {os.cpu_count()} CPUs")
    results = []
    for n in sizes:
        data = batch.operands(n)
        for row in batch.ROWS:
            ours = batch.milliseconds(row.quorvane, data, repeat, 0.05)
            theirs = batch.milliseconds(row.numpy, data, repeat, 0.05)
            print(f"n = {n:>9,}  {row.name:26s} {ours:10.4f} ms {theirs:10.4f} ms  ratio {ours / theirs:6.2f}",
                  flush=True)
            results.append({"n": n, "operation": row.name, "quorvane_ms": ours, "numpy_ms": theirs})
    return {"python": platform.python_version(), "gil": gil, "numpy": batch.np.__version__,
            "workers": batch.worker_count(), "load_average": load, "repeat": repeat,
            "machine": f"{platform.machine()}, {os.cpu_count()} CPUs",
            "date": datetime.date.today().isoformat(), "ms": results}


def rate(n: int, milliseconds: float) -> str:
    """Elements per second, in the unit that keeps three or four digits."""
    per_second = n / (milliseconds / 1e3)
    for unit, size in (("G", 1e9), ("M", 1e6), ("k", 1e3)):
        if per_second >= size:
            return f"{per_second / size:.3g} {unit}"
    return f"{per_second:.3g}"


def markdown(figures: dict[str, Any], plot_written: bool) -> str:
    rows = figures["ms"]
    sizes = sorted({r["n"] for r in rows})
    operations = list(dict.fromkeys(r["operation"] for r in rows))
    cell = {(r["n"], r["operation"]): r for r in rows}
    lines = [
        "# VecList batch operations beside numpy",
        "",
        f"Python {figures['python']} (GIL {figures['gil']}), numpy {figures['numpy']}, pool workers: "
        f"{figures['workers']}; {figures.get('machine', 'machine not recorded')}, load average "
        f"{figures['load_average']:.2f} when the run began; {figures.get('date', '')}.",
        "",
        "Each figure is the fastest of several timed repeats of one call. numpy works on an (n, 3) float64",
        "array holding the same vectors; where quorvane returns a Python list, numpy's result is turned",
        "into one too (`.tolist()`), so both sides hand back the same kind of object. The ratio is",
        "quorvane's time divided by numpy's: below 1, quorvane is faster. Written by `bench/report.py`.",
        "",
        "## Ratio quorvane / numpy",
        "",
        "| operation | " + " | ".join(f"n = {n:,}" for n in sizes) + " |",
        "| --- | " + " | ".join("---:" for _ in sizes) + " |",
    ]
    for op in operations:
        ratios = [cell[n, op]["quorvane_ms"] / cell[n, op]["numpy_ms"] if (n, op) in cell else None for n in sizes]
        lines.append(f"| `{op}` | " + " | ".join("-" if r is None else f"{r:.2f}" for r in ratios) + " |")
    for n in sizes:
        lines += [
            "",
            f"## n = {n:,}",
            "",
            "| operation | quorvane ms | numpy ms | ratio | quorvane elements/s | numpy elements/s |",
            "| --- | ---: | ---: | ---: | ---: | ---: |",
        ]
        for op in operations:
            if (n, op) not in cell:
                continue
            ours, theirs = cell[n, op]["quorvane_ms"], cell[n, op]["numpy_ms"]
            lines.append(f"| `{op}` | {ours:.4f} | {theirs:.4f} | {ours / theirs:.2f} | "
                         f"{rate(n, ours)} | {rate(n, theirs)} |")
    lines += ["", "![elements per second against n](throughput.png)" if plot_written
              else "matplotlib is not installed for this interpreter: no plot was drawn.", ""]
    return "\n".join(lines)


def plot(figures: dict[str, Any], operations: list[str], path: Path) -> bool:
    """Elements per second against n, log-log; False when matplotlib is missing."""
    try:
        import matplotlib

        matplotlib.use("Agg")  # files only, no display
        import matplotlib.pyplot as plt
    except ImportError:
        return False
    rows = [r for r in figures["ms"] if r["operation"] in operations]
    figure, axes = plt.subplots(figsize=(8, 5), dpi=120)
    colours = plt.rcParams["axes.prop_cycle"].by_key()["color"]
    for colour, op in zip(colours, operations):
        mine = sorted((r["n"], r) for r in rows if r["operation"] == op)
        if not mine:
            continue
        sizes = [n for n, _ in mine]
        axes.plot(sizes, [n / (r["quorvane_ms"] / 1e3) for n, r in mine], "-o", color=colour,
                  label=f"{op}, quorvane")
        axes.plot(sizes, [n / (r["numpy_ms"] / 1e3) for n, r in mine], "--s", color=colour, alpha=0.6,
                  markersize=4, label=f"{op}, numpy")
    axes.set_xscale("log")
    axes.set_yscale("log")
    axes.set_xlabel("list length n (vectors)")
    axes.set_ylabel("elements per second")
    axes.set_title(f"VecList batch operations (solid) and numpy (dashed)\nPython {figures['python']}, "
                   f"GIL {figures['gil']}, pool workers: {figures['workers']}", fontsize=10)
    axes.grid(True, which="both", alpha=0.3)
    axes.legend(fontsize=7, ncol=2, loc="best")
    figure.tight_layout()
    figure.savefig(path)
    plt.close(figure)
    return True


def main() -> None:
    parser = argparse.ArgumentParser(description="VecList batch throughput beside numpy: report and plot")
    parser.add_argument("--sizes", type=int, nargs="+", default=[10**3, 10**4, 10**5, 10**6], help="list lengths")
    parser.add_argument("--repeat", type=int, default=5, help="repeats per cell (the fastest is kept)")
    parser.add_argument("--plot", nargs="+", default=PLOTTED, metavar="OPERATION", help="operations to plot")
    parser.add_argument("--out", type=Path, default=OUT, help="folder for report.md, report.json, throughput.png")
    parser.add_argument("--from-json", type=Path, metavar="FILE",
                        help="use figures saved by an earlier run (or by bench/batch.py --json) instead of measuring")
    parser.add_argument("--publish", action="store_true",
                        help=f"also copy the plot to {DOCS_PNG.relative_to(HERE.parent)}")
    args = parser.parse_args()

    figures = json.loads(args.from_json.read_text()) if args.from_json else measure(args.sizes, args.repeat)
    args.out.mkdir(parents=True, exist_ok=True)
    (args.out / "report.json").write_text(json.dumps(figures, indent=2) + "\n")
    png = args.out / "throughput.png"
    plotted = plot(figures, args.plot, png)
    (args.out / "report.md").write_text(markdown(figures, plotted))
    print(f"wrote {args.out / 'report.md'}, {args.out / 'report.json'}"
          + (f" and {png}" if plotted else "; matplotlib is not installed, so no plot"))
    if args.publish and plotted:
        shutil.copyfile(png, DOCS_PNG)
        print(f"copied the plot to {DOCS_PNG}")


if __name__ == "__main__":
    main()
