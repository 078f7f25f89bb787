"""pytest plugin of the sanitizer runs (scripts/test-sanitizers.sh loads it with -p).

- Under a sanitizer every call is several times slower, so time limits made for normal runs do
  not hold: Hypothesis gets no per-example deadline and no health check that fails a slow test.
  Nor does it keep an example database (these runs write nothing into the tree), nor run its
  explain phase, which traces a failing example with sys.monitoring: turning line events on and
  off rewrites the bytecode that other threads are running (the xfail tests fail on purpose).
- Under pytest-run-parallel every test runs in several threads at once. The tests in
  ONE_THREAD_ONLY (and every test of a file in ONE_THREAD_ONLY_FILES) cannot, for the reason
  given with each; they run in one thread. (Tests that
  start threads or processes of their own are found by the plugin itself, see the script.)
"""

from __future__ import annotations

import pytest

# Test functions (path::name, all their parameter sets), each with the reason.
ONE_THREAD_ONLY = {
    # In parallel this would only show the borrow flags turning the other threads away, which the
    # thread tests check on purpose.
    "tests/test_pickling.py::test_bad_state_is_refused_and_leaves_the_object_unchanged":
        "calls __setstate__ (exclusive access) on one parametrized object that all threads share",
    # Python 3.13's warnings filters are process-wide, and Hypothesis and pytest replace them
    # around each example and test; across threads the filter that turns the warning into an
    # error is in force for some calls and not for others.
    "tests/test_hostile_input.py::test_hostile_arguments_give_the_conversion_error_or_the_clean_result":
        "its results depend on the DeprecationWarning filter (a __float__ returning a float subclass)",
    "tests/test_hostile_input.py::test_operators_take_what_converts_and_leave_the_rest_to_the_interpreter":
        "its results depend on the DeprecationWarning filter (a __float__ returning a float subclass)",
    "tests/test_hostile_input.py::test_setters_store_the_converted_value_or_nothing":
        "its results depend on the DeprecationWarning filter (a __float__ returning a float subclass)",
    # An exception records its traceback and context on itself as it is raised, so one instance
    # raised in several threads at once races inside the interpreter (PyException_SetTraceback).
    "tests/test_vec_list.py::TestConstruction::test_a_length_that_fails_or_lies_is_ignored":
        "raises one parametrized exception instance in every thread",
    "tests/test_vec_list.py::TestConstruction::test_errors_while_iterating_belong_to_the_argument":
        "raises one parametrized exception instance in every thread",
    "tests/test_hostile_input.py::test_vec_list_from_a_lying_sequence":
        "raises exception instances drawn from one module-level list in every thread",
}

# Test files whose every test must run in one thread, each with the reason.
ONE_THREAD_ONLY_FILES = {
    "tests/test_dask_install.py":
        "install() and uninstall() change the builtins module of the whole process, and the guard "
        "tests raise one parametrized exception instance",
}


def pytest_configure(config: pytest.Config) -> None:
    try:
        from hypothesis import HealthCheck, Phase, settings
    except ImportError:
        return
    settings.register_profile("sanitizers", deadline=None, database=None,
                              phases=[phase for phase in Phase if phase is not Phase.explain],
                              suppress_health_check=[HealthCheck.too_slow])
    settings.load_profile("sanitizers")


def pytest_collection_modifyitems(config: pytest.Config, items: list[pytest.Item]) -> None:
    if not config.pluginmanager.hasplugin("run-parallel"):
        return
    found = set()
    for item in items:
        name = item.nodeid.split("[")[0]
        reason = ONE_THREAD_ONLY.get(name) or ONE_THREAD_ONLY_FILES.get(name.split("::")[0])
        if reason:
            item.add_marker(pytest.mark.thread_unsafe(reason=reason))
            found.add(name)
    collected_files = {item.nodeid.split("::")[0] for item in items}
    missing = [name for name in ONE_THREAD_ONLY if name not in found and name.split("::")[0] in collected_files]
    reporter = config.pluginmanager.get_plugin("terminalreporter")
    if missing and reporter is not None:
        reporter.write_line("sanitizer_plugin: these one-thread-only tests were not found (renamed?): "
                            + ", ".join(missing), yellow=True)
