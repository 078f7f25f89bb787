"""Batch steps at the edges of a process's life: run by the thread that finalizes the
interpreter, and in flight on another thread when the process forks."""

from __future__ import annotations

import os
import subprocess
import sys
import textwrap

import pytest

from conftest import scaled, skip_under_thread_sanitizer

# ---- the finalizing thread ----

# Each script makes the finalizing thread run a batch step after shutdown has begun: the step
# must complete and the process exit 0 (it used to sleep forever).
STEPS_DURING_FINALIZATION = {
    "a module global's __del__": """
        from quorvane import Vec3d, VecList

        class MakesAList:
            def __del__(self):
                points = VecList([Vec3d(1, 2, 3), Vec3d(4, 5, 6)])
                print(repr(points), points.magnitude()[0], flush=True)

        keeper = MakesAList()
    """,
    "a collected cycle's __del__": """
        from quorvane import Vec3d, VecList

        class InACycle:
            def __init__(self):
                self.me = self
                self.points = VecList([Vec3d(1, 2, 3), Vec3d(4, 5, 6), Vec3d(7, 8, 9)])

            def __del__(self):
                print(repr(self.points), flush=True)

        InACycle()
    """,
    "a generator's finally": """
        from quorvane import Vec3d, VecList

        def walk():
            points = VecList([Vec3d(3, 4, 0), Vec3d(6, 8, 0)])
            try:
                yield 1
            finally:
                print(points.magnitude(), flush=True)

        suspended = walk()
        next(suspended)
    """,
}


@pytest.mark.parametrize("script", STEPS_DURING_FINALIZATION.values(), ids=STEPS_DURING_FINALIZATION.keys())
def test_a_step_run_while_the_interpreter_finalizes_completes(script: str) -> None:
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(script)], capture_output=True,
                          text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip(), "the step did not run"
    assert "Vec3d" in done.stdout or "5.0" in done.stdout or "10.0" in done.stdout


# ---- fork while another thread is inside a step ----

FORK_DURING_STEP = """
    import os, sys, threading
    from quorvane import Quat, Vec3d, VecList, AngleRadians

    size = {size}
    points = VecList([Vec3d(i, 1, 2) for i in range(size)])
    before = points[size - 1]
    turn = Quat.from_axis_angle(Vec3d(0, 0, 1), AngleRadians(0.001))
    operand = Vec3d(1, 1, 1)
    stop = threading.Event()
    rotations = 0

    def rotate_and_read():
        global rotations
        while not stop.is_set():
            rotations += 1  # counted before the call: a new call shows before it borrows
            points.rotate(turn)
            points.dot(operand)

    def rotating():
        # points.rotate holds the list exclusively for its whole call, step included.
        try:
            points[0]
        except RuntimeError as error:
            assert str(error) == "Already mutably borrowed"
            return True
        return False

    worker = threading.Thread(target=rotate_and_read)
    worker.start()
    statuses = []
    in_flight = 0
    for attempt in range({forks}):
        calls, busy_before = rotations, rotating()
        pid = os.fork()
        if pid == 0:
            # In the child the lists and the operand must be usable at once, holding whole
            # values: either from before a step or after one, never busy.
            try:
                points.magnitude()
                points.rotate(turn)
                points.append(Vec3d(0, 0, 0))
                operand.x = 2.0
                assert len(points) == size + 1
                os._exit(0)
            except BaseException as error:
                print("child:", type(error).__name__, error, flush=True)
                os._exit(3)
        # Held before and after the fork by the same call (no new call began): held across it.
        in_flight += busy_before and rotating() and rotations == calls
        statuses.append(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
        if in_flight >= {enough}:
            break
    stop.set()
    worker.join(60)
    print(statuses, rotations, in_flight, flush=True)
    sys.exit(max(statuses) or (0 if in_flight else 4))
"""


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
@skip_under_thread_sanitizer
def test_a_forked_child_can_use_the_objects_of_a_step_in_flight() -> None:
    # Every fork lands while the other thread is inside a step or between two; with a long list
    # most of them land inside one, which is what used to leave the objects busy in the child.
    script = FORK_DURING_STEP.format(size=scaled(400_000, 20_000), forks=60, enough=scaled(10, 3))
    done = subprocess.run([sys.executable, "-W", "ignore::DeprecationWarning", "-c", textwrap.dedent(script)],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode != 4, "no fork landed while a step was in flight: " + done.stdout
    assert done.returncode == 0, done.stdout + done.stderr


# ---- fork while another thread holds a borrow across a Python callback ----

FORK_DURING_CALLBACK = """
    import os, sys, threading
    from quorvane import Vec3d, VecList

    points = VecList([Vec3d(1, 2, 3), Vec3d(4, 5, 6)])
    inside, leave = threading.Event(), threading.Event()

    class Slow:
        def __index__(self):
            inside.set()
            assert leave.wait(60), "the parent never let the callback return"
            return 1

    caller = threading.Thread(target=lambda: {call})
    caller.start()
    assert inside.wait(60), "the callback never ran"
    try:
        points.append(Vec3d(0, 0, 0))
        sys.exit("the list was not borrowed while the callback ran")
    except RuntimeError as error:
        assert str(error) == "Already borrowed", error
    pid = os.fork()
    if pid == 0:
        try:
            points.append(Vec3d(7, 8, 9))
            assert len(points) == 3 and points.collapse(0)[2] == Vec3d(0, 8, 9)
            os._exit(0)
        except BaseException as error:
            print("child:", type(error).__name__, error, flush=True)
            os._exit(3)
    leave.set()
    caller.join(60)
    assert not caller.is_alive()
    status = os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])
    assert len(points) == 2
    sys.exit(status)
"""


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
@skip_under_thread_sanitizer
@pytest.mark.parametrize("call", ["points[Slow()]", "points.collapse(Slow())"])
def test_a_forked_child_can_use_an_object_borrowed_across_a_callback(call: str) -> None:
    done = subprocess.run([sys.executable, "-W", "ignore::DeprecationWarning", "-c",
                           textwrap.dedent(FORK_DURING_CALLBACK.format(call=call))],
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stdout + done.stderr
