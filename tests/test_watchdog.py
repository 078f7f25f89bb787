"""The watchdog every test runs under: a test that hangs on a thread or a forked child fails with
a message instead of stalling the run."""

from __future__ import annotations

import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

HANGING = {
    "a thread that never finishes": """
        import threading
        import pytest

        @pytest.mark.watchdog(2)
        def test_hangs():
            never = threading.Event()
            worker = threading.Thread(target=never.wait, daemon=True)
            worker.start()
            worker.join()
    """,
    "a forked child that never exits": """
        import os
        import time
        import pytest

        @pytest.mark.watchdog(2)
        def test_hangs():
            pid = os.fork()
            if pid == 0:
                time.sleep(60)  # outlives the watchdog, not a run that lacks one
                os._exit(0)
            try:
                os.waitpid(pid, 0)
            finally:
                os.kill(pid, 9)
                os.waitpid(pid, 0)
    """,
}


@pytest.mark.parametrize("source", HANGING.values(), ids=HANGING.keys())
def test_a_hanging_test_fails_with_a_message(source: str, tmp_path: Path) -> None:
    if "fork" in source and not hasattr(__import__("os"), "fork"):
        pytest.skip("needs fork")
    (tmp_path / "test_hanging.py").write_text(textwrap.dedent(source))
    tests = str(Path(__file__).parent)
    done = subprocess.run(
        [sys.executable, "-m", "pytest", "-q", "-p", "conftest", "-p", "no:cacheprovider", "-p", "no:randomly",
         "-W", "ignore::DeprecationWarning", str(tmp_path / "test_hanging.py")],
        capture_output=True, text=True, timeout=120, cwd=tmp_path, env={**__import__("os").environ, "PYTHONPATH": tests},
    )
    assert done.returncode == 1, done.stdout + done.stderr
    assert "watchdog: the test ran longer than 2 s" in done.stdout, done.stdout
