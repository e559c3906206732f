"""What the package's modules share: the library's functions, the conversions of arguments and
results, and the error raised for a failed call."""
import ctypes as C
from typing import Optional

from . import _errors, _native
from ._errors import Error

_INT32 = (-2**31, 2**31 - 1)
_INT64 = (-2**63, 2**63 - 1)


def _lib():
    return _native.libraries().corvane


def _copied(copy) -> str:
    """A text that a C function copies like snprintf: asked for its length, then copied."""
    length = copy(None, 0)
    if length < 0:
        raise MemoryError("corvane: " + _lib().corvane_status_text(length).decode())
    buffer = C.create_string_buffer(length + 1)
    copy(buffer, length + 1)
    return buffer.value.decode("utf-8", "replace")


def error_message(status: int) -> str:
    """The whole error in one sentence for a status, with what the calling thread knows of it
    (corvane_error_message): call it on the thread that got the status, before its next call."""
    return _copied(lambda buffer, size: _lib().corvane_error_message(status, buffer, size))


def _error(status: int, result=None, answered=None, unanswered=None) -> Error:
    """The exception for a status, with the thread's whole sentence for it, the server's words
    and what the call wrote to its outputs: result when they were written from an answer, else
    unanswered (what the C++ operation leaves: an emptied list, no value). answered:
    whether an answer was read (the status is then the server's code, whatever its number, or -1
    for an answer that could not be read); by default what the C interface says of the thread's
    last operation (corvane_answer_read)."""
    if answered is None:
        answered = _lib().corvane_answer_read() == 1
    refused = answered and status != -1
    server = _copied(lambda buffer, size: _lib().corvane_last_server_message(buffer, size))
    http_status = 0 if answered else _native.libraries().zenta.ZENTA_HttpStatusOf(status)
    kind = _errors.kind_of(status, not refused, http_status)
    error = kind(error_message(status), status, server, result if answered else unanswered)
    if http_status:
        error.http_status = http_status
    cause = _errors.take_failure()
    if status in (_errors.CANCELLED, _errors.CREDENTIAL):
        error.__cause__ = cause
    return error


def _check(status: int, result=None, unanswered=None) -> None:
    if status != 0:
        raise _error(status, result, unanswered=unanswered)


def _text_in(name: str, value) -> bytes:
    if isinstance(value, bytes):
        data = value
    elif isinstance(value, str):
        data = value.encode("utf-8")
    else:
        raise TypeError("%s must be str, not %s" % (name, type(value).__name__))
    if b"\0" in data:
        raise ValueError("%s holds a NUL character, which the library would cut it at" % name)
    return data


def _int_in(name: str, value, limits=_INT32) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError("%s must be int, not %s" % (name, type(value).__name__))
    if not limits[0] <= value <= limits[1]:
        raise OverflowError("%s %d is outside %d..%d" % (name, value, limits[0], limits[1]))
    return value


def _text_out(data: Optional[bytes]) -> str:
    return "" if data is None else data.decode("utf-8", "replace")


def _setting(setter, name: str, value) -> None:
    _check(setter(_text_in(name, value)))


def set_language(language: str) -> None:
    """The "Accept-Language" value of every request built afterwards (process-wide)."""
    _setting(_lib().corvane_set_language, "language", language)


def set_time_zone(time_zone: str) -> None:
    """The "Time-Zone" value of every request built afterwards (process-wide)."""
    _setting(_lib().corvane_set_time_zone, "time_zone", time_zone)


def set_mac_address(mac_address: str) -> None:
    """The "clientMac" member of every request body built afterwards (process-wide)."""
    _setting(_lib().corvane_set_mac_address, "mac_address", mac_address)


def library_version() -> str:
    """The version of the libCorvane loaded, "MAJOR.MINOR.PATCH"."""
    return _lib().corvane_version().decode()


class _Block:
    """A result of the C interface, released with corvane_free when the with-block ends."""

    def __init__(self, record):
        self.records = C.POINTER(record)()
        self.count = C.c_int32()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        _lib().corvane_free(self.records)

    def __iter__(self):
        return (self.records[i] for i in range(self.count.value))
