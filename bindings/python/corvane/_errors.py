"""The exceptions of a failed call, one class per kind of failure, so that a caller catches what
it can handle (a refused connection, a timeout) and lets the rest through as ``Error``."""
import builtins
import threading

# The gateway's codes that say what kind of failure a call met (ZentaSdk.h).
CANCELLED = -20107
CREDENTIAL = -20106


class Error(Exception):
    """A failed call: ``status`` is the library's status (a gateway code, a code of the library
    or its C interface, or the server's own code), ``server_message`` the server's words with its
    answer ("" when there were none), ``result`` what the call wrote to its outputs, as the
    method would have returned it (from the server's answer when one was read; else an empty
    list or dict for a list operation and None otherwise), and ``str(error)`` the whole error in
    one sentence."""

    def __new__(cls, message="", *args, **kwargs):
        # Only the sentence goes to the base class: OSError (under ConnectionError and
        # TimeoutError) would read further arguments as an errno and a file name.
        return super().__new__(cls, message)

    def __init__(self, message: str = "", status: int = 0, server_message: str = "",
                 result=None):
        super().__init__(message)
        self.status = status
        self.server_message = server_message
        self.result = result


class ConnectionError(Error, builtins.ConnectionError):
    """The server could not be reached or the connection broke: its name did not resolve, the
    connection was refused, or sending or receiving failed."""


class TimeoutError(Error, builtins.TimeoutError):
    """The connect timeout or the request timeout elapsed."""


class TLSError(Error):
    """The TLS handshake or the verification of a certificate failed."""


class HTTPStatusError(Error):
    """The server answered an HTTP status other than 2xx without a JSON body; ``http_status``
    is that status."""

    http_status = 0


class ServerError(Error):
    """The server answered and refused: ``status`` is its own code, ``server_message`` its
    words."""


class CancelledError(Error):
    """The call was cancelled: by ``cancel()`` of its scope, by closing its client or scope, or
    by its progress callable."""


_GATEWAY_KINDS = {
    -20200: ConnectionError, -20201: ConnectionError, -20204: ConnectionError,
    -20205: ConnectionError, -20202: TimeoutError, -20203: TLSError, CANCELLED: CancelledError,
    -20101: CancelledError,  # the session was closed while the call waited
}


def kind_of(status: int, library_failure: bool, http_status: int) -> type:
    """The class for a status. library_failure tells whether the library itself failed (the
    gateway, the request or answer handling, the C interface) rather than the server refusing
    with a code, which may be any number; http_status is the HTTP status a gateway code keeps
    (ZENTA_HttpStatusOf), else 0."""
    if not library_failure:
        return ServerError
    if http_status:
        return HTTPStatusError
    return _GATEWAY_KINDS.get(status, Error)


# What a Python callable of the library (a token callback, a progress callable) raised on this
# thread: the error of the call it belongs to names it as its cause.
_callback_failure = threading.local()


def remember_failure(exception: BaseException) -> None:
    _callback_failure.exception = exception


def take_failure():
    exception = getattr(_callback_failure, "exception", None)
    _callback_failure.exception = None
    return exception


for _kind in (Error, ConnectionError, TimeoutError, TLSError, HTTPStatusError, ServerError,
              CancelledError):
    _kind.__module__ = "corvane"  # where callers name them
