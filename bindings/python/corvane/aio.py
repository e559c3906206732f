"""Corvane for asyncio: every operation of corvane.Client as a coroutine::

    import corvane.aio

    async def trails():
        async with corvane.aio.Client("http://127.0.0.1:8080") as client:
            return await client.get_ptz_trail_list("D1001-C01")

Each call runs on a worker thread of the event loop's default executor, on a scope of its own:
cancelling the task that awaits it cancels that scope, so the call ends at once with the task's
asyncio.CancelledError and the exchange stops within the gateway's cancel latency. A
progress callable of download_device_picture is called on the worker thread.
"""
import asyncio

from . import _client
from ._operations import _AsyncOperations

__all__ = ["Client", "Scope"]


def _run_closing(scope, operation, arguments):
    with scope:
        return operation(scope, *arguments)


class _AsyncHandle(_AsyncOperations):
    """The coroutines over a corvane.Client or corvane.Scope."""

    def __init__(self, handle):
        self._sync = handle

    @property
    def handle(self) -> int:
        """The gateway handle (ValueError once closed)."""
        return self._sync.handle

    @property
    def closed(self) -> bool:
        return self._sync.closed

    def close(self) -> None:
        """Closes the handle and returns at once: calls in flight end with
        corvane.CancelledError."""
        self._sync.close()

    def scope(self) -> "Scope":
        """A new scope under this handle, whose cancel() ends the calls started on it."""
        return Scope(self._sync.scope())

    async def __aenter__(self):
        return self

    async def __aexit__(self, *exc):
        self.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    async def _call(self, operation, *arguments):
        scope = self._sync.scope()
        loop = asyncio.get_running_loop()
        try:
            return await loop.run_in_executor(None, _run_closing, scope, operation, arguments)
        except asyncio.CancelledError:
            scope.close()  # ends the call on the worker thread, or keeps it from starting
            raise


class Client(_AsyncHandle):
    """One gateway session, with the constructor of corvane.Client and every operation as a
    coroutine; an async (or plain) context manager."""

    def __init__(self, server_url: str, **session_options):
        super().__init__(_client.Client(server_url, **session_options))


class Scope(_AsyncHandle):
    """A scope of a corvane.aio.Client (Client.scope()): cancel() ends every call on it with
    corvane.CancelledError."""

    def cancel(self) -> None:
        self._sync.cancel()

