"""Resource failures: memory that cannot be had, a pool that cannot start, an interpreter that
ends while a batch step runs. Each case that changes the process runs in a child interpreter."""

from __future__ import annotations

import json
import subprocess
import sys
import textwrap
from typing import Any

import pytest

from quorvane import VecList

try:
    import numpy
except ImportError:
    numpy = None

# The child's own address space, as the kernel counts it for RLIMIT_AS.
ADDRESS_SPACE = textwrap.dedent(
    """
    import resource

    def address_space():
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith("VmSize:"):
                    return int(line.split()[1]) * 1024

    HARD_LIMIT = resource.getrlimit(resource.RLIMIT_AS)[1]

    def limit_address_space(headroom):
        resource.setrlimit(resource.RLIMIT_AS, (address_space() + headroom, HARD_LIMIT))

    def lift_address_space_limit():
        resource.setrlimit(resource.RLIMIT_AS, (HARD_LIMIT, HARD_LIMIT))
    """
)


def run_child(script: str, *, large_thread_stacks: bool = False) -> subprocess.CompletedProcess[str]:
    command = [sys.executable, "-c", ADDRESS_SPACE + textwrap.dedent(script)]
    if large_thread_stacks:
        # A thread's default stack is the stack limit the process started with: make it large,
        # so that a little headroom in the address space leaves no room for any thread at all.
        command = ["bash", "-c", 'ulimit -S -s 262144 2>/dev/null; exec "$@"', "bash", *command]
    return subprocess.run(command, capture_output=True, text=True, timeout=120)


def report_of(done: subprocess.CompletedProcess[str]) -> dict[str, Any]:
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout.splitlines()[-1])


# ---- memory that cannot be had ----


@pytest.mark.skipif(numpy is None, reason="needs numpy")
@pytest.mark.parametrize("rows", [2**40, 2**58], ids=["larger than memory", "larger than the address space"])
def test_a_list_too_large_to_allocate_is_a_memory_error(rows: int) -> None:
    # Every row is the same three doubles: the view is tiny, the copy would not be.
    view = numpy.lib.stride_tricks.as_strided(numpy.zeros(3), shape=(rows, 3), strides=(0, 8))
    with pytest.raises(MemoryError):
        VecList.from_array(view)
    assert VecList.from_array(view[:2]).to_array() == [[0.0, 0.0, 0.0]] * 2


def test_running_out_of_address_space_leaves_the_interpreter_working() -> None:
    done = run_child(
        """
        import json
        from quorvane import Vec3d, VecList

        vectors = VecList([Vec3d(1.0, 2.0, 3.0), Vec3d(4.0, 5.0, 6.0)] * 500)
        vectors.dot(Vec3d(1, 1, 1))  # the pool exists before the limit
        limit_address_space(256 * 2**20)
        failures, length_before_failure = [], None
        for _ in range(64):
            length_before_failure = len(vectors)
            try:
                vectors.extend(VecList(vectors))
            except MemoryError as error:
                failures.append(type(error).__name__)
                break
        length_after_failure = len(vectors)
        last = vectors[length_after_failure - 1].to_array()
        try:
            doubled = vectors * 2.0
            scaled = "ok"
            del doubled
        except MemoryError:
            scaled = "MemoryError"
        del vectors
        lift_address_space_limit()
        small = VecList([Vec3d(i, 0, 0) for i in range(1000)])
        print(json.dumps({
            "failures": failures,
            "unchanged_length": length_after_failure == length_before_failure,
            "last": last,
            "scaled": scaled,
            "still_working": [small.dot(Vec3d(1, 0, 0))[999], repr(Vec3d(1, 2, 3) * 2), len(small)],
        }))
        """
    )
    report = report_of(done)
    assert report["failures"] == ["MemoryError"]
    assert report["unchanged_length"] is True
    assert report["last"] == [4.0, 5.0, 6.0]
    assert report["scaled"] in ("ok", "MemoryError")
    assert report["still_working"] == [999.0, "Vec3d(2, 4, 6)", 1000]


def test_a_length_that_lies_costs_no_memory_that_is_not_there() -> None:
    done = run_child(
        """
        import json
        from quorvane import Vec3d, VecList

        class Boasting:
            def __len__(self):
                return 2**62

            def __getitem__(self, index):
                if index >= 3:
                    raise IndexError(index)
                return Vec3d(index, 0, 0)

        VecList([Vec3d(0, 0, 0)] * 2)  # the pool exists before the limit
        limit_address_space(64 * 2**20)
        try:
            result = VecList(Boasting()).to_array()
        except MemoryError:
            result = "MemoryError"
        print(json.dumps({"result": result}), flush=True)
        # Shutting down under the limit can fail in the interpreter itself; that is not ours.
        import os
        os._exit(0)
        """
    )
    assert report_of(done) == {"result": [[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [2.0, 0.0, 0.0]]}


# ---- a pool that cannot start ----

POOL_CANNOT_START = """
    import json, os
    from quorvane import Vec3d, VecList

    def threads():
        return len(os.listdir("/proc/self/task"))

    def failure_of(step):
        try:
            step()
        except BaseException as error:
            return [type(error).__name__, str(error)]
        return None

    # Built without a batch step: the pool must not exist before the limit is set.
    vectors = VecList.empty()
    for i in range(10):
        vectors.append(Vec3d(i, 0, 0))
    threads_before = threads()
    stack = resource.getrlimit(resource.RLIMIT_STACK)[0]
    headroom = 2**20 if stack == resource.RLIM_INFINITY else max(2**20, min(16 * 2**20, stack // 4))
    limit_address_space(headroom)
    first = failure_of(lambda: vectors.dot(Vec3d(1, 0, 0)))
    later = [
        failure_of(lambda: vectors.normalize()),
        failure_of(lambda: VecList([Vec3d(1, 2, 3)] * 3)),
        failure_of(lambda: VecList([])),  # a step over no items asks for the pool too
        failure_of(lambda: repr(vectors)),
        failure_of(lambda: vectors.minimum_distance_to(Vec3d(0, 0, 0), 2)),
    ]
    lift_address_space_limit()  # the pool could start now, but it is not tried again
    retried = failure_of(lambda: vectors.to_array())
    alive = {
        "vector": repr(Vec3d(1, 2, 3) + Vec3d(1, 1, 1) * 2),
        "length": len(vectors),
        "item": vectors[9].to_array(),
        "iterated": [v.x for v in vectors][-1],
        "appended": [vectors.append(Vec3d(0, 0, 0)), len(vectors)][1],
        "from_array": len(VecList.from_array(vectors)),
    }
    print(json.dumps({"first": first, "later": later, "retried": retried, "alive": alive,
                      "threads": [threads_before, threads()]}))
"""


def test_a_pool_that_cannot_start_fails_every_batch_step_and_nothing_else() -> None:
    done = run_child(POOL_CANNOT_START, large_thread_stacks=True)
    report = report_of(done)
    kind, text = report["first"]
    assert kind == "PanicException"
    assert text.startswith("The global thread pool has not been initialized.")
    assert report["later"] == [report["first"]] * 5
    assert report["retried"] == report["first"]
    assert report["alive"] == {"vector": "Vec3d(3, 4, 5)", "length": 10, "item": [9.0, 0.0, 0.0],
                               "iterated": 9.0, "appended": 11, "from_array": 11}
    threads_before, threads_after = report["threads"]
    assert threads_after == threads_before  # no worker was left behind
    # Each failure is also reported where it happened.
    assert done.stderr.count("The global thread pool has not been initialized.") == 7


# ---- the interpreter ending while a batch step runs ----

EXIT_DURING_A_STEP = """
    import sys, threading, time
    from quorvane import Vec3d, VecList

    size = int(sys.argv[1])
    vectors = VecList([Vec3d(1.0, 2.0, 3.0)] * 1000)
    while len(vectors) < size:
        vectors.extend(VecList(vectors))
    running = threading.Event()

    def work_forever():
        running.set()
        while True:
            vectors.normalize()

    threading.Thread(target=work_forever, daemon=True).start()
    running.wait()
    time.sleep(0.05)
    # The interpreter now finalizes while the daemon thread is inside a step, or between two.
"""


@pytest.mark.parametrize("size", [2_000, 20_000, 200_000, 4_000_000],
                         ids=["very short steps", "short steps", "steps", "long steps"])
def test_the_interpreter_exits_cleanly_while_a_daemon_thread_runs_a_step(size: int) -> None:
    # Whether a step ends during finalization is up to the scheduler: a few tries make it likely.
    for _ in range(4):
        done = subprocess.run([sys.executable, "-c", textwrap.dedent(EXIT_DURING_A_STEP), str(size)],
                              capture_output=True, text=True, timeout=120)
        assert (done.returncode, done.stderr) == (0, "")



# ---- allocations that fail one at a time ----

ONE_FAILED_ALLOCATION = """
import json, _testcapi
from quorvane import Quat, Vec3d, VecList, geometry
objects = [geometry.Circle(Vec3d(1, 2, 3), 2.0, Vec3d(0, 0, 1)), geometry.Plane(Vec3d(0, 0, 1), 1.0),
           Vec3d(1, 2, 3), Quat(1, 0, 0, 0), VecList([Vec3d(1, 2, 3)])]
outcomes = set()
for value in objects:
    # The first reduction in the process also creates the class reference's type.
    for k in range(60):
        _testcapi.set_nomemory(k, k + 1)
        try:
            value.__reduce_ex__(2)
            outcomes.add("done")
        except MemoryError:
            outcomes.add("MemoryError")
        except BaseException as error:
            outcomes.add(type(error).__name__ + ": " + str(error))
        finally:
            _testcapi.remove_mem_hooks()
print(json.dumps(sorted(outcomes)))
"""


def test_a_failed_allocation_while_pickling_is_a_memory_error() -> None:
    pytest.importorskip("_testcapi")
    done = subprocess.run([sys.executable, "-c", ONE_FAILED_ALLOCATION], capture_output=True, text=True,
                          timeout=120)
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout.splitlines()[-1]) == ["MemoryError", "done"]
