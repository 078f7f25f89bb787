# mypy: disallow-subclassing-any=False
"""Running install() in every process of a Dask cluster, including workers that start later."""

from __future__ import annotations

import inspect
from typing import Any

from quorvane_dask._install import set_up_process
from quorvane_dask._modules import imported

# The bases come from distributed, used untyped (see _modules).
WorkerPlugin: Any = imported("distributed").WorkerPlugin
SchedulerPlugin: Any = imported("distributed").SchedulerPlugin


class QuorvanePlugin(WorkerPlugin):
    """A worker plugin that calls quorvane_dask.install() on every worker it reaches. Registered
    with a client, it is also run by every worker that joins the cluster afterwards."""

    name = "quorvane-dask-install"
    # Registered again (a client that connected itself, then connect()): nothing to do.
    idempotent = True

    def setup(self, worker: Any) -> None:
        set_up_process()


class QuorvaneSchedulerPlugin(SchedulerPlugin):
    """The same for the scheduler, which unpickles the task graphs it is sent."""

    name = "quorvane-dask-install"
    idempotent = True

    async def start(self, scheduler: Any) -> None:
        set_up_process()


def connect(client: Any) -> Any:
    """Calls install() here, on the scheduler and on every worker, present and future; returns
    the client."""
    set_up_process()
    client.register_plugin(QuorvaneSchedulerPlugin())
    client.register_plugin(QuorvanePlugin())
    return client


async def connect_starting_client(client: Any) -> None:
    """connect() for a client that is starting: run in its event loop, where its calls return
    awaitables. This process is set up already."""
    for plugin in (QuorvaneSchedulerPlugin(), QuorvanePlugin()):
        registered = client.register_plugin(plugin)
        if inspect.isawaitable(registered):
            await registered
