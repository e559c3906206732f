"""Client (a gateway session) and Scope (a handle under it that can be cancelled as a whole),
both carrying the operations of _Operations."""
import ctypes as C
import weakref
from collections.abc import Mapping

from . import _errors, _native
from ._operations import _Operations
from ._support import _Block, _check, _error, _int_in, _text_in


def _flag(true, false):
    return lambda value: true if value else false


def _header_lines(headers):
    """A NULL-terminated array of "Name: value" lines from a mapping or (name, value) pairs."""
    pairs = headers.items() if isinstance(headers, Mapping) else headers
    lines = [_text_in("headers", name) + b": " + _text_in("headers", value)
             for name, value in pairs]
    return (_native.c_text * (len(lines) + 1))(*lines, None)


def _token_function(callback):
    """The C token callback over a Python callable that returns the token: an exception, or a
    value that is no text, fails the call (ZENTA_E_CREDENTIAL) and becomes its error's cause."""

    def give(context, refresh, buffer, size):
        try:
            token = _text_in("the token", callback())
        except Exception as failure:  # the gateway knows only "no token": keep the reason
            _errors.remember_failure(failure)
            return -1
        written = min(len(token), size - 1)
        C.memmove(buffer, token, written)
        buffer[written] = b"\0"
        return len(token)

    return _native.TokenCallback(give)


def _text(name):
    return lambda value: _text_in(name, value)


def _integer(name):
    return lambda value: _int_in(name, value)


# keyword: (field of ZENTA_SessionOptions, conversion); absent or None: the gateway's default.
_SESSION_OPTIONS = {
    "connect_timeout_ms": ("connectTimeoutMs", _integer("connect_timeout_ms")),
    "request_timeout_ms": ("requestTimeoutMs", _integer("request_timeout_ms")),
    "max_connections": ("maxConnections", _integer("max_connections")),
    "verify_tls": ("verifyTls", _flag(1, 2)),
    "ca_file": ("caFile", _text("ca_file")),
    "max_answer_bytes": ("maxAnswerBytes", _integer("max_answer_bytes")),
    "authorization": ("authorization", _text("authorization")),
    "token": ("authorization", lambda token: b"Bearer " + _text_in("token", token)),
    "headers": ("headers", _header_lines),
    "token_callback": ("tokenCallback", _token_function),
    "cert": ("clientCert", _text("cert")),
    "key": ("clientKey", _text("key")),
    "key_password": ("clientKeyPassword", _text("key_password")),
    "proxy": ("proxy", _text("proxy")),
    "retries": ("retries", _integer("retries")),
    "compression": ("compression", _flag(1, 2)),
    "trace": ("trace", _flag(1, 2)),
    "revocation_best_effort": ("revocation", _flag(1, 0)),
}


def _session_options(given):
    """ZENTA_SessionOptions from the keywords, and what must outlive the session (the token
    callback)."""
    unknown = sorted(set(given) - set(_SESSION_OPTIONS))
    if unknown:
        raise TypeError("unknown session option %r (known: %s)"
                        % (unknown[0], ", ".join(sorted(_SESSION_OPTIONS))))
    given = {name: value for name, value in given.items() if value is not None}
    if "token" in given and "authorization" in given:
        raise TypeError("token and authorization both set the Authorization value")
    options = _native.SessionOptions()
    options.structSize = C.sizeof(_native.SessionOptions)
    converted = {}
    for name, value in given.items():
        field, convert = _SESSION_OPTIONS[name]
        converted[name] = convert(value)
        setattr(options, field, converted[name])
    return options, converted.get("token_callback")


class _Handle(_Operations):
    """A gateway handle (a session or a scope) and what every operation needs of it."""

    def __init__(self, handle, closer, keep):
        self._handle = handle
        self._keep = keep  # what the handle's calls need alive: the token callback, the parent
        self._closer = weakref.finalize(self, closer, handle)

    @property
    def handle(self) -> int:
        """The gateway handle the operations run on."""
        if self.closed:
            raise ValueError("the %s is closed" % type(self).__name__.lower())
        return self._handle

    @property
    def closed(self) -> bool:
        return not self._closer.alive

    def close(self) -> None:
        """Closes the handle and returns at once: calls in flight on it, and on the scopes under
        it, end with CancelledError. Closing again does nothing."""
        self._closer()

    def scope(self) -> "Scope":
        """A new scope under this handle, to cancel the calls started on it together."""
        return Scope(self)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        return "<corvane.%s handle=%d%s>" % (type(self).__name__, self._handle,
                                             " closed" if self.closed else "")

    def _status(self, call, arguments, progress=None):
        """Runs one C call on this handle; with a progress callable, on a scope of its own that
        reports to it."""
        if progress is None:
            return call(self.handle, *arguments)
        with _Progress(self, progress) as scope:
            return call(scope.handle, *arguments)

    def _list(self, record, convert, collect, call, *arguments):
        """The records of a list operation, each made by convert while its block lives."""
        with _Block(record) as block:
            status = self._status(call, arguments + (C.byref(block.records),
                                                     C.byref(block.count)))
            result = collect(convert(r) for r in block)
        _check(status, result, collect(()))  # a list is emptied even when no answer came
        return result

    def _single(self, ctype, convert, call, *arguments):
        value = ctype()
        status = self._status(call, arguments + (C.byref(value),))
        result = convert(value.value)
        _check(status, result)
        return result

    def _record(self, record, convert, call, *arguments, progress=None):
        """A result of at most one record (None when the call wrote none)."""
        pointer = C.POINTER(record)()
        try:
            status = self._status(call, arguments + (C.byref(pointer),), progress)
            result = convert(pointer.contents) if pointer else None
        finally:
            _native.libraries().corvane.corvane_free(pointer)
        _check(status, result)
        return result

    def _fields(self, make, ctypes, call, *arguments):
        """A result of several outputs, made into one record by make."""
        values = [ctype() for ctype in ctypes]
        status = self._status(call, arguments + tuple(C.byref(v) for v in values))
        result = make(*(v.value for v in values))
        _check(status, result)
        return result

    def _none(self, call, *arguments):
        _check(self._status(call, arguments))


class Client(_Handle):
    """One gateway session on a platform server (``server_url``: "http://host:port" or
    "https://host:port", optionally with a base path). Session options, as keywords; absent or
    None means the gateway's default:

    - connect_timeout_ms, request_timeout_ms, max_connections, max_answer_bytes (0: default);
    - verify_tls (bool, default True: verify the certificate and host name), ca_file;
    - token ("Authorization: Bearer <token>"), or authorization (the whole Authorization value),
      or token_callback (a callable returning the token, called before the first request and
      once more after the server refused it; an exception inside it fails the call);
    - headers (a mapping, or (name, value) pairs, sent with every request);
    - cert, key, key_password (a client certificate: PEM files on Linux, a PFX file or
      "store:<thumbprint>" on Windows);
    - proxy ("http://host:port"; "" for none; absent: the environment's or the system's);
    - retries (0..10 tries after the first, never re-sending what may have run);
    - compression (default True: ask for gzip);
    - trace (True: one line per exchange on standard error; False: none; absent: as the
      environment's ZENTA_TRACE says);
    - revocation_best_effort (Windows: accept a certificate whose revocation cannot be checked).

    Use it as a context manager, or call close(); a client that is collected closes its session
    too."""

    def __init__(self, server_url: str, **session_options):
        libraries = _native.libraries()
        options, token_callback = _session_options(session_options)
        handle = C.c_int()
        status = libraries.zenta.ZENTA_OpenSession(_text_in("server_url", server_url),
                                                   C.byref(options), C.byref(handle))
        if status != 0:
            raise _error(status, answered=False)
        super().__init__(handle.value, libraries.zenta.ZENTA_CloseSession, token_callback)


class Scope(_Handle):
    """A handle under a client or a scope, sharing its session's options and connections, so
    that the calls started on it can be cancelled together: one scope per view of an
    application, cancelled or closed when the view closes. A context manager."""

    def __init__(self, parent: _Handle):
        zenta = _native.libraries().zenta
        handle = C.c_int()
        status = zenta.ZENTA_OpenScope(parent.handle, C.byref(handle))
        if status != 0:
            raise _error(status, answered=False)
        super().__init__(handle.value, zenta.ZENTA_CloseScope, parent)

    @property
    def closed(self) -> bool:
        """Whether the scope, or a handle above it, was closed."""
        return not self._closer.alive or self._keep.closed

    def cancel(self) -> None:
        """Ends every call in flight on this scope, and on the scopes under it, with
        CancelledError; every later call on it fails at once the same way. The parent is
        untouched. Nothing happens on a closed scope."""
        if not self.closed:
            _native.libraries().zenta.ZENTA_CancelScope(self._handle)


class _Progress(Scope):
    """A scope of one call, reporting to progress(received, total) (total -1 when the answer
    announces none); an exception or a true return from it cancels the call."""

    def __init__(self, parent, progress):
        super().__init__(parent)

        def report(context, received, total):
            try:
                return 1 if progress(received, total) else 0
            except Exception as failure:  # cancels the call, whose error names it
                _errors.remember_failure(failure)
                return 1

        self._report = _native.ProgressCallback(report)
        status = _native.libraries().zenta.ZENTA_SetProgressCallback(self._handle, self._report,
                                                                     None)
        if status != 0:
            raise _error(status, answered=False)
