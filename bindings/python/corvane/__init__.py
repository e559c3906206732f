"""Corvane for Python: typed calls onto the platform server's REST interface.

A ``Client`` holds one gateway session on one platform server; its methods are the library's
fourteen operations, named in snake_case without ``API_``, returning records with snake_case
fields or plain values. Every failure raises ``Error``, whose text is the whole error in one
sentence (``corvane_error_message``), with ``status`` and ``server_message``::

    import corvane
    corvane.set_language("en-US")
    with corvane.Client("http://127.0.0.1:8080") as client:
        try:
            trails = client.get_ptz_trail_list("D1001-C01")
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
import dataclasses
import weakref
from typing import Dict, Iterable, List, Optional, Tuple

from . import _native

__version__ = "0.1.0"
__all__ = [
    "Client", "Error", "set_language", "set_time_zone", "set_mac_address", "library_version",
    "error_message", "Picture", "SpeakerVolume", "AudioFile", "ChannelFile", "SameAudioFile",
    "Contact", "DeviceContact", "PtzTrail", "RemoteRecord",
]

_INT32 = (-2**31, 2**31 - 1)
_INT64 = (-2**63, 2**63 - 1)


class Error(Exception):
    """A failed operation: ``status`` is the library's status (a gateway code, -1, a code of the
    C interface or the server's own code), ``server_message`` the server's words with its answer
    ("" when there were none), and ``str(error)`` the whole error in one sentence."""

    def __init__(self, message: str, status: int, server_message: str = ""):
        super().__init__(message)
        self.status = status
        self.server_message = server_message


@dataclasses.dataclass(frozen=True)
class Picture:
    tag: int
    picture_data: bytes


@dataclasses.dataclass(frozen=True)
class SpeakerVolume:
    channel_id: str
    microphone_volume: int
    speaker_volume: int
    successful: int
    channel_name: str


@dataclasses.dataclass(frozen=True)
class AudioFile:
    channel_id: str
    file_id: str
    file_name: str


@dataclasses.dataclass(frozen=True)
class ChannelFile:
    channel_id: str
    file_id: str


@dataclasses.dataclass(frozen=True)
class SameAudioFile:
    file_name: str
    channel_files: Tuple[ChannelFile, ...]


@dataclasses.dataclass(frozen=True)
class Contact:
    contact_name: str
    contact_phone: str
    contact_email: str
    contact_note: str


@dataclasses.dataclass(frozen=True)
class DeviceContact:
    source_name: str
    device_position: str
    device_contacts: Tuple[Contact, ...]


@dataclasses.dataclass(frozen=True)
class PtzTrail:
    trail_id: str
    trail_name: str


@dataclasses.dataclass(frozen=True)
class RemoteRecord:
    plan_id: int
    now: int  # the server's time when the record started, epoch milliseconds


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


def _error(status: int) -> Error:
    server = _copied(lambda buffer, size: _lib().corvane_last_server_message(buffer, size))
    return Error(error_message(status), status, server)


def _check(status: int) -> None:
    if status != 0:
        raise _error(status)


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


class Client:
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

    # The operations, as CorvaneC.h declares them.

    def get_ai_privacy_config(self) -> int:
        """The server's "enable" value of the AI privacy configuration."""
        return self._single(C.c_int32, _lib().corvane_get_ai_privacy_config)

    def get_web_enablement(self, device_id: str) -> bool:
        return bool(self._single(C.c_int32, _lib().corvane_get_web_enablement,
                                 _text_in("device_id", device_id)))

    def get_channel_web_enablement(self, channel_id: str) -> bool:
        return bool(self._single(C.c_int32, _lib().corvane_get_channel_web_enablement,
                                 _text_in("channel_id", channel_id)))

    def download_device_picture(self, picture_id: str, tag: int = 0) -> Optional[Picture]:
        """The picture's bytes as the server sent them (None when no answer came with them)."""
        picture = C.POINTER(_native.Picture)()
        try:
            _check(_lib().corvane_download_device_picture(
                self.handle, _text_in("picture_id", picture_id), _int_in("tag", tag),
                C.byref(picture)))
            if not picture:
                return None
            record = picture.contents
            return Picture(record.tag, C.string_at(record.pictureData, record.pictureLength))
        finally:
            _lib().corvane_free(picture)

    def get_ip_speaker_volume(self, channel_id: str) -> Optional[SpeakerVolume]:
        """The channel's volumes (None when the server listed none)."""
        volume = C.POINTER(_native.SpeakerVolume)()
        try:
            _check(_lib().corvane_get_ip_speaker_volume(
                self.handle, _text_in("channel_id", channel_id), C.byref(volume)))
            if not volume:
                return None
            v = volume.contents
            return SpeakerVolume(_text_out(v.channelId), v.microphoneVolume, v.speakerVolume,
                                 v.successful, _text_out(v.channelName))
        finally:
            _lib().corvane_free(volume)

    def set_ip_speaker_volume(self, channel_id: str, microphone_volume: int = -1,
                              speaker_volume: int = -1) -> None:
        """Sets the volumes that are not negative; Error with status -1 when the server lists
        the channel as failed."""
        _check(_lib().corvane_set_ip_speaker_volume(
            self.handle, _text_in("channel_id", channel_id),
            _int_in("microphone_volume", microphone_volume),
            _int_in("speaker_volume", speaker_volume)))

    def get_ip_speaker_audio_list(self, channel_id: str) -> List[AudioFile]:
        return self._list(
            _native.AudioFile,
            lambda f: AudioFile(_text_out(f.channelId), _text_out(f.fileId),
                                _text_out(f.fileName)),
            _lib().corvane_get_ip_speaker_audio_list, _text_in("channel_id", channel_id))

    def get_ip_speaker_same_audio_list(self, channel_ids: Iterable[str]) -> List[SameAudioFile]:
        """The audio files present on all of the channels, with each channel's id for them."""
        ids = [_text_in("channel_ids[%d]" % i, c) for i, c in enumerate(channel_ids)]
        array = (C.c_char_p * max(len(ids), 1))(*ids)
        return self._list(
            _native.SameAudioFile,
            lambda f: SameAudioFile(_text_out(f.fileName), tuple(
                ChannelFile(_text_out(f.channelFiles[j].channelId),
                            _text_out(f.channelFiles[j].fileId))
                for j in range(f.channelFileCount))),
            _lib().corvane_get_ip_speaker_same_audio_list, array if ids else None,
            _int_in("len(channel_ids)", len(ids)))

    def get_alarm_device_contacts(self, alarm_code: str, alarm_date: int) -> List[DeviceContact]:
        """The alarm's sources with their devices' contacts; alarm_date in epoch milliseconds."""
        return self._list(
            _native.DeviceContact,
            lambda s: DeviceContact(_text_out(s.sourceName), _text_out(s.devicePosition), tuple(
                Contact(*(_text_out(getattr(s.deviceContacts[j], field))
                          for field, _ in _native.Contact._fields_))
                for j in range(s.deviceContactCount))),
            _lib().corvane_get_alarm_device_contacts, _text_in("alarm_code", alarm_code),
            _int_in("alarm_date", alarm_date, _INT64))

    def get_ptz_trail_list(self, channel_id: str) -> List[PtzTrail]:
        return self._list(_native.PtzTrail,
                          lambda t: PtzTrail(_text_out(t.trailId), _text_out(t.trailName)),
                          _lib().corvane_get_ptz_trail_list, _text_in("channel_id", channel_id))

    def start_remote_record(self, channel_id: str, stream_type: int,
                            duration: int) -> RemoteRecord:
        plan_id, now = C.c_int32(), C.c_int64()
        _check(_lib().corvane_start_remote_record(
            self.handle, _text_in("channel_id", channel_id), _int_in("stream_type", stream_type),
            _int_in("duration", duration), C.byref(plan_id), C.byref(now)))
        return RemoteRecord(plan_id.value, now.value)

    def get_pos_config(self) -> int:
        """The POS playback time ("posPlaybackTime" read leniently: its leading number, else 0)."""
        return self._single(C.c_int32, _lib().corvane_get_pos_config)

    def get_pos_event_translate(self) -> Dict[int, str]:
        """The POS event names by code."""
        return dict(self._list(_native.IntText, lambda e: (e.key, _text_out(e.text)),
                               _lib().corvane_get_pos_event_translate))

    def query_dictionary_mapper(self, type: int) -> Dict[int, int]:
        """The dictionary mapping of one mapper type, key to value."""
        return dict(self._list(_native.IntPair, lambda e: (e.key, e.value),
                               _lib().corvane_query_dictionary_mapper, _int_in("type", type)))
