"""The C interface from Python through ctypes, against a fresh corvane-mock-server: PTZ trails,
a dictionary mapping, a picture and an unknown device, compared with the server's catalog; a text
for each status of the C interface; a null setting refused.
usage: ctypes_check.py <server URL> <libCorvane> <libZENTA>
"""
import ctypes as C
import json
import sys
import urllib.request

url, corvane_path, zenta_path = sys.argv[1:4]
zenta = C.CDLL(zenta_path)
corvane = C.CDLL(corvane_path)
with urllib.request.urlopen(url + "/__mock/catalog") as answer:
    catalog = json.load(answer)["data"]


class Trail(C.Structure):
    _fields_ = [("trailId", C.c_char_p), ("trailName", C.c_char_p)]


class Pair(C.Structure):
    _fields_ = [("key", C.c_int32), ("value", C.c_int32)]


class Picture(C.Structure):
    _fields_ = [("tag", C.c_int32), ("pictureLength", C.c_int64),
                ("pictureData", C.POINTER(C.c_ubyte))]


corvane.corvane_status_text.restype = C.c_char_p
handle = C.c_int()
failures = []
if zenta.ZENTA_OpenSession(url.encode(), None, C.byref(handle)) != 0:
    sys.exit("no session")


def fetch(name, record, *arguments):
    """Calls a list operation and returns its records as tuples; frees the list."""
    records, count = C.POINTER(record)(), C.c_int32()
    status = getattr(corvane, name)(handle, *arguments, C.byref(records), C.byref(count))
    if status != 0:
        failures.append(f"{name}: {status} {corvane.corvane_status_text(status)}")
    rows = [tuple(getattr(records[i], f[0]) for f in record._fields_) for i in range(count.value)]
    corvane.corvane_free(records)
    return rows


channel = catalog["devices"][0]["channels"][0]
trails = [(t["trailId"].encode(), t["trailName"].encode()) for t in channel["trails"]]
if fetch("corvane_get_ptz_trail_list", Trail, channel["channelId"].encode()) != trails:
    failures.append("trails differ")
mapping = {int(e["key"]): int(e["value"]) for e in catalog["mappers"]["2"]}
if fetch("corvane_query_dictionary_mapper", Pair, C.c_int32(2)) != sorted(mapping.items()):
    failures.append("mapping differs")
sizes = {p["pictureId"]: p["bytes"] for p in catalog["pictures"]}
picture = C.POINTER(Picture)()
status = corvane.corvane_download_device_picture(handle, b"P0100", 5, C.byref(picture))
if status != 0 or picture.contents.pictureLength != sizes["P0100"] or \
        bytes(picture.contents.pictureData[1:4]) != b"PNG" or picture.contents.tag != 5:
    failures.append(f"picture P0100: status {status}")
corvane.corvane_free(picture)
enabled = C.c_int32(7)
if corvane.corvane_get_web_enablement(handle, b"D9999", C.byref(enabled)) != 4004 or enabled.value:
    failures.append("unknown device: not 4004")
message = C.create_string_buffer(256)
corvane.corvane_last_server_message(message, 256)
if b"D9999" not in message.value:
    failures.append(f"server message {message.value!r}")
texts = [corvane.corvane_status_text(code) for code in range(-40001, -40009, -1)]
if len(set(texts)) != len(texts):
    failures.append(f"status texts not distinct: {texts}")
if corvane.corvane_set_time_zone(None) != -40006:
    failures.append("a null setting is not CORVANE_E_NULL_ARGUMENT")
zenta.ZENTA_CloseSession(handle)
print("\n".join(failures) or "ctypes: all as the catalog says")
sys.exit(1 if failures else 0)
