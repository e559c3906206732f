"""Corvane for Python: typed calls onto the platform server's REST interface.

A ``Client`` holds one gateway session on one platform server; its methods are the library's
fourteen operations, named in snake_case without ``API_``, returning records with snake_case
fields or plain values. Every failure raises ``Error`` or one of its subclasses
(``ConnectionError``, ``TimeoutError``, ``TLSError``, ``HTTPStatusError``, ``ServerError``,
``CancelledError``), whose text is the whole error in one sentence (``corvane_error_message``),
with ``status``, ``server_message`` and ``result``::

    import corvane
    corvane.set_language("en-US")
    with corvane.Client("http://127.0.0.1:8080") as client:
        try:
            files = client.get_ip_speaker_audio_list("D2001-C01")
        except corvane.Error as error:
            print(error.status, error)

Pure Python over libCorvane's C interface (ctypes): the library is found through the
CORVANE_LIBRARY environment variable (the path of libCorvane), then beside this package, then
on the system's search path, and libZENTA beside libCorvane. Texts go out as UTF-8 and come back
decoded from UTF-8 (bytes that are not UTF-8 become U+FFFD). A text holding a NUL character, or
an integer outside the range of its C type, is refused with ValueError or OverflowError before
anything is sent.

A ``Scope`` (``client.scope()``) runs the same operations on a handle that ``cancel()`` ends
as a whole; ``corvane.aio.Client`` has every operation as a coroutine.

Threads: a Client may be used from several threads at once. The settings (set_language, ...)
are process-wide and must not change while an operation runs.
"""
from . import _operations
from ._client import Client, Scope
from ._errors import (CancelledError, ConnectionError, Error, HTTPStatusError, ServerError,
                      TimeoutError, TLSError)
from ._operations import *  # noqa: F403 (the records: _operations.RECORDS)
from ._support import error_message, library_version, set_language, set_mac_address, set_time_zone

__version__ = "0.1.0"
__all__ = [
    "Client", "Scope", "Error", "ConnectionError", "TimeoutError", "TLSError", "HTTPStatusError",
    "ServerError", "CancelledError", "set_language", "set_time_zone", "set_mac_address",
    "library_version", "error_message",
] + _operations.RECORDS
