"""Corvane for Python: typed calls onto the platform server's REST interface.

A ``Client`` holds one gateway session on one platform server; its methods are the library's
fourteen operations, named in snake_case without ``API_``, returning records with snake_case
fields or plain values. Every failure raises ``Error``, whose text is the whole error in one
sentence (``corvane_error_message``), with ``status`` and ``server_message``::

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

Threads: a Client may be used from several threads at once. The settings (set_language, ...)
are process-wide and must not change while an operation runs.
"""
import ctypes as C
import weakref

from . import _native, _operations
from ._operations import *  # noqa: F403 (the records: _operations.RECORDS)
from ._operations import _Operations
from ._support import (Error, _Block, _check, _int_in, _text_in, error_message, library_version,
                       set_language, set_mac_address, set_time_zone)

__version__ = "0.1.0"
__all__ = [
    "Client", "Error", "set_language", "set_time_zone", "set_mac_address", "library_version",
    "error_message",
] + _operations.RECORDS

_SESSION_OPTIONS = {
    # keyword: (field of ZENTA_SessionOptions, conversion)
    "connect_timeout_ms": ("connectTimeoutMs", int),
    "request_timeout_ms": ("requestTimeoutMs", int),
    "max_connections": ("maxConnections", int),
    # True (default): verify the certificate and host name; False: do not (test servers).
    "verify_tls": ("verifyTls", lambda verify: 1 if verify else 2),
    "ca_file": ("caFile", lambda path: _text_in("ca_file", path)),
    "max_answer_bytes": ("maxAnswerBytes", int),
}


def _close_session(zenta, handle):
    zenta.ZENTA_CloseSession(handle)


class Client(_Operations):
    """One gateway session on a platform server (``server_url``: "http://host:port" or
    "https://host:port", optionally with a base path). Session options as keywords:
    connect_timeout_ms, request_timeout_ms, max_connections, verify_tls (bool), ca_file,
    max_answer_bytes; 0 or absent means the gateway's default. Use it as a context manager, or
    call close(); a client that is collected closes its session too."""

    def __init__(self, server_url: str, **session_options):
        libraries = _native.libraries()
        options = _native.SessionOptions()
        options.structSize = C.sizeof(_native.SessionOptions)
        for name, value in session_options.items():
            if name not in _SESSION_OPTIONS:
                raise TypeError("unknown session option %r (known: %s)"
                                % (name, ", ".join(sorted(_SESSION_OPTIONS))))
            field, convert = _SESSION_OPTIONS[name]
            converted = convert(value)
            if field != "caFile":
                converted = _int_in(name, converted)
            setattr(options, field, converted)
        handle = C.c_int()
        status = libraries.zenta.ZENTA_OpenSession(_text_in("server_url", server_url),
                                                   C.byref(options), C.byref(handle))
        if status != 0:
            raise Error(error_message(status), status)
        self._handle = handle.value
        self._closer = weakref.finalize(self, _close_session, libraries.zenta, self._handle)

    @property
    def handle(self) -> int:
        """The gateway session's handle (ZENTA_OpenSession)."""
        if not self._closer.alive:
            raise ValueError("the client is closed")
        return self._handle

    @property
    def closed(self) -> bool:
        return not self._closer.alive

    def close(self) -> None:
        """Closes the session; calls in flight finish first. Closing again does nothing."""
        self._closer()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        return "<corvane.Client handle=%d%s>" % (self._handle, " closed" if self.closed else "")

    def _list(self, record, convert, call, *arguments):
        """The records of a list operation, each made by convert while its block lives."""
        with _Block(record) as block:
            _check(call(self.handle, *arguments, C.byref(block.records), C.byref(block.count)))
            return [convert(r) for r in block]

    def _single(self, ctype, call, *arguments):
        value = ctype()
        _check(call(self.handle, *arguments, C.byref(value)))
        return value.value
