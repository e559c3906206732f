"""Loading libCorvane and libZENTA, and the ctypes declarations of what the package calls.

Every function gets its argtypes and restype: without them ctypes passes Python ints as C int
(an int64_t alarm date would be cut to 32 bits) and reads every result as int (a const char*
would come back as a number). The records mirror CorvaneC.h and ZentaSdk.h field by field.
"""
import ctypes as C
import os
import sys
import threading

c_text = C.c_char_p  # NUL-terminated bytes, in the block of a result


# ZENTA_TokenCallback and ZENTA_ProgressCallback (C calling convention on every platform).
TokenCallback = C.CFUNCTYPE(C.c_int, C.c_void_p, C.c_int, C.POINTER(C.c_char), C.c_int)
ProgressCallback = C.CFUNCTYPE(C.c_int, C.c_void_p, C.c_longlong, C.c_longlong)


class SessionOptions(C.Structure):
    _fields_ = [("structSize", C.c_uint), ("connectTimeoutMs", C.c_int),
                ("requestTimeoutMs", C.c_int), ("maxConnections", C.c_int),
                ("verifyTls", C.c_int), ("caFile", c_text), ("maxAnswerBytes", C.c_int),
                ("authorization", c_text), ("headers", C.POINTER(c_text)),
                ("tokenCallback", TokenCallback), ("tokenContext", C.c_void_p),
                ("clientCert", c_text), ("clientKey", c_text), ("clientKeyPassword", c_text),
                ("proxy", c_text), ("retries", C.c_int), ("compression", C.c_int),
                ("trace", C.c_int), ("revocation", C.c_int)]


# The operations' records and declarations, written from api/operations.toml.
from ._native_ops import *  # noqa: E402,F403 (the records, used as _native.<Record>)

_int, _i32, _buffer = C.c_int, C.c_int32, C.POINTER(C.c_char)


# name: (restype, argtypes)
CORVANE_FUNCTIONS = {
    "corvane_status_text": (c_text, [_int]),
    "corvane_error_message": (_i32, [_int, _buffer, _i32]),
    "corvane_version": (c_text, []),
    "corvane_last_server_message": (_i32, [_buffer, _i32]),
    "corvane_free": (None, [C.c_void_p]),
    "corvane_answer_read": (_int, []),
    "corvane_set_language": (_int, [c_text]),
    "corvane_set_time_zone": (_int, [c_text]),
    "corvane_set_mac_address": (_int, [c_text]),
    **OPERATIONS,  # noqa: F405
}

ZENTA_FUNCTIONS = {
    "ZENTA_OpenSession": (_int, [c_text, C.POINTER(SessionOptions), C.POINTER(_int)]),
    "ZENTA_CloseSession": (_int, [_int]),
    "ZENTA_HttpStatusOf": (_int, [_int]),
    "ZENTA_OpenScope": (_int, [_int, C.POINTER(_int)]),
    "ZENTA_CancelScope": (_int, [_int]),
    "ZENTA_CloseScope": (_int, [_int]),
    "ZENTA_SetProgressCallback": (_int, [_int, ProgressCallback, C.c_void_p]),
}


def _names(library):
    """The file names a library goes by on this system, the versioned one first."""
    if sys.platform == "win32":
        return [library + ".dll"]
    if sys.platform == "darwin":
        return ["lib%s.0.dylib" % library, "lib%s.dylib" % library]
    return ["lib%s.so.0" % library, "lib%s.so" % library]


def _load(candidates):
    """The first candidate that loads; OSError naming every one tried when none does."""
    failures = []
    for candidate in candidates:
        try:
            return candidate, C.CDLL(candidate)
        except OSError as error:
            failures.append("%s (%s)" % (candidate, error))
    raise OSError("cannot load " + "; ".join(failures))


def _corvane_candidates():
    explicit = os.environ.get("CORVANE_LIBRARY")
    if explicit:
        return [explicit]
    here = os.path.dirname(os.path.abspath(__file__))
    beside = [os.path.join(here, name) for name in _names("Corvane")]
    return [path for path in beside if os.path.exists(path)] + _names("Corvane")


def _zenta_candidates(corvane_path):
    folder = os.path.dirname(corvane_path)
    if not folder:  # found on the system's search path: libZENTA is there too
        return _names("ZENTA")
    beside = [os.path.join(folder, name) for name in _names("ZENTA")]
    return [path for path in beside if os.path.exists(path)] or beside


class Libraries:
    """libCorvane and libZENTA, loaded once, with every function declared."""

    def __init__(self):
        # libCorvane's location decides libZENTA's, which is loaded first, so that libCorvane's
        # own dependency on it resolves to the same library.
        corvane_path = None
        failures = []
        for candidate in _corvane_candidates():
            try:
                zenta_path, self.zenta = _load(_zenta_candidates(candidate))
                corvane_path, self.corvane = _load([candidate])
                break
            except OSError as error:
                failures.append(str(error))
        if corvane_path is None:
            raise OSError("libCorvane not found (set CORVANE_LIBRARY to its path): "
                          + " | ".join(failures))
        self.corvane_path, self.zenta_path = corvane_path, zenta_path
        for library, functions in ((self.corvane, CORVANE_FUNCTIONS),
                                   (self.zenta, ZENTA_FUNCTIONS)):
            for name, (restype, argtypes) in functions.items():
                function = getattr(library, name)
                function.restype, function.argtypes = restype, argtypes


_libraries = None
_lock = threading.Lock()


def libraries():
    """The loaded libraries; loads them on first use."""
    global _libraries
    with _lock:
        if _libraries is None:
            _libraries = Libraries()
        return _libraries
