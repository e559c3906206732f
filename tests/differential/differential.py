#!/usr/bin/env python3
"""The differential test of the interfaces: the same answers, served by corvane-mock-server (a
"garbage" fault with a body replaces an answer, an "http-error" fault makes the gateway fail), run
through Corvane.h (the reference leg), CorvaneCxx.h, the C interface, the Python package and the
C# assembly, must give the same statuses and write the same outputs.

  differential.py <server URL> <reference leg> [--over-c LEG] [--c PACKAGE] [--python PACKAGE]
                  [--csharp MONO EXE]
(CORVANE_LIBRARY names libCorvane for the C and Python legs, which load it through the package.)

A leg reads operation names (one per line) and prints one JSON line per operation: "status";
"thrown" when it can tell the interface's own failure (an exception of the C++ interface, a code
of corvane_interface_error) from the server's code; "server" when its exception type says the
server refused; "out", what the call wrote (null: nothing), when the leg can see it (Python and
C# on a failure: the exception's result, once the packages attach it). The C++ legs run each
operation twice (see Leg.cpp): every answer is queued as many times as a leg calls.
"""
import argparse
import ctypes as C
import dataclasses
import json
import subprocess
import sys
import urllib.request

# name: (the path the fault matches, the data of an ordinary answer, data the reader chokes on)
OPS = {
    "get_ai_privacy_config": ("config/ai/privacy", {"enable": 5}, {"enable": "x"}),
    "get_web_enablement": ("device/D1001/web/enablement", {"enableWeb": 1}, {"enableWeb": [1]}),
    "get_channel_web_enablement": ("device/channel/D1001-C01/web/enablement", {"enableWeb": 0},
                                   {"enableWeb": "1"}),
    "download_device_picture": ("common/request/picture/P0001", {}, {}),
    "get_ip_speaker_volume": ("ip-speaker/channel/volume/fetch/list", {"results": [
        {"channelId": "D2001-C01", "microphoneVolume": 4, "speakerVolume": 5, "successful": 1,
         "channelName": "n\u00e9"}]}, {"results": [{"speakerVolume": "loud"}]}),
    "set_ip_speaker_volume": ("ip-speaker/channel/volume/update/batch",
                              {"speakerVolumeFailedChannels": []},
                              {"speakerVolumeFailedChannels": ["D2001-C01"]}),
    "get_ip_speaker_audio_list": ("device/channel/D2001-C01/audio/file/list", {"results": [
        {"channelId": "c", "fileId": "f", "fileName": "\u00e9"}, {}]},
        {"results": [{"fileId": {}}]}),
    "get_ip_speaker_same_audio_list": ("device/channel/same/audio/file/fetch/list", {"results": [
        {"fileName": "x", "channelFiles": [{"channelId": "c", "fileId": 7}]}]},
        {"results": [{"fileName": [1]}]}),
    "get_alarm_device_contacts": ("alarm/record/contact/detail", {"results": [
        {"sourceName": "s", "devicePosition": "p", "deviceContacts": [
            {"contactName": "n", "contactPhone": 1, "contactEmail": "e", "contactNote": "o"}]}]},
        {"results": [{"deviceContacts": [{"contactName": {}}]}]}),
    "get_ptz_trail_list": ("ptz/channel/D1001-C01/trail/list", {"results": [
        {"trailId": 12345678901, "trailName": "t"}, {"trailId": 1.5}]},
        {"results": [{"trailId": [], "trailName": "t"}]}),
    "start_remote_record": ("/admin/API/SS/Record/StartRecord", {"planId": 4, "now": 1700000000000},
                            {"planId": "four"}),
    "get_pos_config": ("config/pos", {"posPlaybackTime": " 12s"}, {"posPlaybackTime": []}),
    "get_pos_event_translate": ("dictionary/list", {"results": [
        {"items": [{"code": "1", "name": "a"}, {"code": "2", "name": "b"}]}]},
        {"results": [{"items": [{"code": "1", "name": "a"}, {"code": "z", "name": "b"}]}]}),
    "query_dictionary_mapper": ("config/dictionary-mapper", {"results": [
        {"key": "1", "value": "2"}, {"key": 1, "value": "-3"}]},
        {"results": [{"key": "1", "value": "99999999999"}]}),
}
# The server's codes: its success (1000), its own, and those that other layers use as well.
CODES = [1000, 0, 4004, -1, -2, -7, -20001, -20107, -20201, -30502, 2147483647, -2147483648] + \
    list(range(-40001, -40100, -1))
MALFORMED = ["<html>", "[1,2]", '{"code":"1000"}', '{"data":{}}', "", '{"code":1000,"data":[1]}',
             '{"code":1000,"data":{"results":7}}', '{"code":1000,"data":{"results":[1,null]}}',
             '{"code":4004,"message":7,"data":null}']


def cases():
    """(operation, fault) in the order every leg runs them."""
    for op, (_, good, bad) in OPS.items():
        answers = [{"code": code, "message": "m%d" % code, "data": good} for code in CODES]
        answers.append({"code": 1000, "data": bad})
        for body in [json.dumps(a) for a in answers] + MALFORMED:
            yield op, {"kind": "garbage", "body": body}
        yield op, {"kind": "http-error", "status": 503}


class Server:
    def __init__(self, url):
        self.url = url.rstrip("/")

    def call(self, method, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(self.url + path, data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=30) as answer:
            return json.loads(answer.read() or b"null")

    def queue(self, repeat):
        """Queues every case's answer repeat times, in the order the legs call."""
        self.call("DELETE", "/__mock/faults")
        faults = []
        for op, fault in cases():
            path = OPS[op][0]
            path = path if path.startswith("/") else "/vusk/api/v1.1/" + path
            faults += [dict(fault, path=path, count=1)] * repeat
        for start in range(0, len(faults), 500):
            self.call("POST", "/__mock/faults", faults[start:start + 500])

    def left(self):
        return len(self.call("GET", "/__mock/faults")["data"]["faults"])


def run_program(command, ops):
    done = subprocess.run(command, input="\n".join(ops) + "\n", capture_output=True, text=True,
                          encoding="utf-8", timeout=600)
    if done.returncode != 0:
        sys.exit("%s failed (%d): %s" % (command, done.returncode, done.stderr))
    return [json.loads(line) for line in done.stdout.splitlines()]


def canonical(value):
    """A Python or ctypes-made result in the form the C++ legs print."""
    if dataclasses.is_dataclass(value):
        return [canonical(getattr(value, f.name)) for f in dataclasses.fields(value)]
    if isinstance(value, dict):
        return [[k, canonical(v)] for k, v in sorted(value.items())]
    if isinstance(value, (list, tuple)):
        return [canonical(v) for v in value]
    if isinstance(value, bytes):
        return value.decode("utf-8", "replace")
    return value


def texts(record, names):
    return [(getattr(record, n) or b"").decode("utf-8", "replace") for n in names]


def same_audio_file(f):
    return texts(f, ["fileName"]) + [[texts(f.channelFiles[i], ["channelId", "fileId"])
                                      for i in range(f.channelFileCount)]]


def device_contact(d):
    return texts(d, ["sourceName", "devicePosition"]) + [[texts(
        d.deviceContacts[i], ["contactName", "contactPhone", "contactEmail", "contactNote"])
        for i in range(d.deviceContactCount)]]


def c_leg(url, package):
    """The C interface itself, through ctypes (the package's record declarations; CORVANE_LIBRARY
    names the library)."""
    sys.path.insert(0, package)
    from corvane import _native, _native_ops as N
    lib = _native.libraries().corvane
    handle = C.c_int()
    assert _native.libraries().zenta.ZENTA_OpenSession(url.encode(), None, C.byref(handle)) == 0
    h = handle.value

    def single(call, *args, kind=int):
        value = C.c_int32(77)
        status = call(h, *args, C.byref(value))
        return status, (kind(value.value) if lib.corvane_answer_read() else
                        None if value.value == 0 else "not reset")

    def listed(record, call, *args, convert):
        block, count = C.POINTER(record)(), C.c_int32(-1)
        status = call(h, *args, C.byref(block), C.byref(count))
        out = [convert(block[i]) for i in range(count.value)]
        lib.corvane_free(block)
        return status, out

    def one(record, call, *args, convert):
        block = C.POINTER(record)()
        status = call(h, *args, C.byref(block))
        out = convert(block[0]) if block else None
        lib.corvane_free(block)
        return status, out

    def record():
        plan, now = C.c_int32(7), C.c_int64(7)
        status = lib.corvane_start_remote_record(h, b"D1001-C01", 1, 30, C.byref(plan),
                                                 C.byref(now))
        return status, [plan.value, now.value] if lib.corvane_answer_read() else None

    channels = (C.c_char_p * 2)(b"D2001-C01", b"D2001-C02")
    calls = {
        "get_ai_privacy_config": lambda: single(lib.corvane_get_ai_privacy_config),
        "get_web_enablement": lambda: single(lib.corvane_get_web_enablement, b"D1001", kind=bool),
        "get_channel_web_enablement": lambda: single(lib.corvane_get_channel_web_enablement,
                                                     b"D1001-C01", kind=bool),
        "download_device_picture": lambda: one(
            N.Picture, lib.corvane_download_device_picture, b"P0001", 7,
            convert=lambda p: [p.tag, C.string_at(p.pictureData, p.pictureLength).decode()]),
        "get_ip_speaker_volume": lambda: one(
            N.SpeakerVolume, lib.corvane_get_ip_speaker_volume, b"D2001-C01",
            convert=lambda v: [(v.channelId or b"").decode(), v.microphoneVolume,
                               v.speakerVolume, v.successful, (v.channelName or b"").decode()]),
        "set_ip_speaker_volume": lambda: (
            lib.corvane_set_ip_speaker_volume(h, b"D2001-C01", 10, 20), None),
        "get_ip_speaker_audio_list": lambda: listed(
            N.AudioFile, lib.corvane_get_ip_speaker_audio_list, b"D2001-C01",
            convert=lambda f: texts(f, ["channelId", "fileId", "fileName"])),
        "get_ip_speaker_same_audio_list": lambda: listed(
            N.SameAudioFile, lib.corvane_get_ip_speaker_same_audio_list, channels, 2,
            convert=same_audio_file),
        "get_alarm_device_contacts": lambda: listed(
            N.DeviceContact, lib.corvane_get_alarm_device_contacts, b"ALM-0001", 1710852658426,
            convert=device_contact),
        "get_ptz_trail_list": lambda: listed(N.PtzTrail, lib.corvane_get_ptz_trail_list,
                                             b"D1001-C01",
                                             convert=lambda t: texts(t, ["trailId", "trailName"])),
        "start_remote_record": record,
        "get_pos_config": lambda: single(lib.corvane_get_pos_config),
        "get_pos_event_translate": lambda: listed(
            N.IntText, lib.corvane_get_pos_event_translate,
            convert=lambda e: [e.key, (e.text or b"").decode()]),
        "query_dictionary_mapper": lambda: listed(N.IntPair, lib.corvane_query_dictionary_mapper,
                                                  2, convert=lambda e: [e.key, e.value]),
    }

    def run(op):
        status, out = calls[op]()
        thrown = lib.corvane_interface_error() != 0
        return {"status": status, "thrown": thrown, "out": None if thrown else out}
    return run


def python_leg(url, package):
    """The Python package (bindings/python), as a caller uses it."""
    sys.path.insert(0, package)
    import corvane
    client = corvane.Client(url)
    calls = {
        "get_ai_privacy_config": lambda: client.get_ai_privacy_config(),
        "get_web_enablement": lambda: client.get_web_enablement("D1001"),
        "get_channel_web_enablement": lambda: client.get_channel_web_enablement("D1001-C01"),
        "download_device_picture": lambda: client.download_device_picture("P0001", tag=7),
        "get_ip_speaker_volume": lambda: client.get_ip_speaker_volume("D2001-C01"),
        "set_ip_speaker_volume": lambda: client.set_ip_speaker_volume("D2001-C01", 10, 20),
        "get_ip_speaker_audio_list": lambda: client.get_ip_speaker_audio_list("D2001-C01"),
        "get_ip_speaker_same_audio_list": lambda: client.get_ip_speaker_same_audio_list(
            ["D2001-C01", "D2001-C02"]),
        "get_alarm_device_contacts": lambda: client.get_alarm_device_contacts("ALM-0001",
                                                                              1710852658426),
        "get_ptz_trail_list": lambda: client.get_ptz_trail_list("D1001-C01"),
        "start_remote_record": lambda: client.start_remote_record("D1001-C01", 1, 30),
        "get_pos_config": lambda: client.get_pos_config(),
        "get_pos_event_translate": lambda: client.get_pos_event_translate(),
        "query_dictionary_mapper": lambda: client.query_dictionary_mapper(2),
    }
    server_error = getattr(corvane, "ServerError", None)

    def run(op):
        try:
            return {"status": 0, "out": canonical(calls[op]())}
        except corvane.Error as error:
            got = {"status": error.status}
            if server_error is not None:
                got["server"] = isinstance(error, server_error)
            if hasattr(error, "result"):
                got["out"] = canonical(error.result)
            return got
    return run


def differs(ref, got, fault):
    """What a leg's line says otherwise than the reference's, or None. fault is the case's: a
    served body carries the server's code whatever its number; an http-error fault makes the
    gateway fail, and a package's exception then holds no result."""
    if got.get("status") is None:  # an exception without a status: only for the interface's own
        return None if ref["thrown"] else "an exception where the reference returned"
    if got["status"] != ref["status"]:
        return "status"
    if "thrown" in got and got["thrown"] != ref["thrown"]:
        return "who failed"
    gateway = fault["kind"] == "http-error"
    if "server" in got and ref["status"] not in (0, -1) and \
            got["server"] != (not ref["thrown"] and not gateway):
        return "server's refusal or not"
    attached = not (gateway and got.get("out") is None)
    if "out" in got and not ref["thrown"] and attached and got["out"] != ref["out"]:
        return "outputs"
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("url")
    parser.add_argument("reference")
    parser.add_argument("--over-c")
    parser.add_argument("--c", metavar="PACKAGE")
    parser.add_argument("--python", metavar="PACKAGE")
    parser.add_argument("--csharp", nargs=2, metavar=("MONO", "EXE"))
    args = parser.parse_args()
    server = Server(args.url)
    ops = [op for op, _ in cases()]

    def program(command, repeat):
        server.queue(repeat)
        lines = run_program(command + [args.url], ops)
        return lines, server.left()

    def in_process(make):
        server.queue(1)
        run = make()
        return [run(op) for op in ops], server.left()

    legs = {"Corvane.h": lambda: program([args.reference], 2)}
    if args.over_c:
        legs["CorvaneCxx.h"] = lambda: program([args.over_c], 2)
    if args.c:
        legs["the C interface"] = lambda: in_process(lambda: c_leg(args.url, args.c))
    if args.python:
        legs["Python"] = lambda: in_process(lambda: python_leg(args.url, args.python))
    if args.csharp:
        legs["C#"] = lambda: program(list(args.csharp), 1)
    results = {name: leg() for name, leg in legs.items()}
    reference, _ = results.pop("Corvane.h")
    failures = 0
    for name, (lines, left) in results.items():
        if left or len(lines) != len(ops):
            failures += 1
            print("%s: %d lines for %d cases, %d answers not taken" % (name, len(lines), len(ops),
                                                                       left))
            continue
        for (op, fault), ref, got in zip(cases(), reference, lines):
            what = differs(ref, got, fault)
            if what:
                failures += 1
                if failures <= 40:
                    print("%s, %s, %s: %s differ\n  Corvane.h: %s\n  %s: %s" % (
                        name, op, fault.get("body", fault["kind"]), what, json.dumps(ref), name,
                        json.dumps(got)))
    print("%d cases through %s: %d differences" % (len(ops), ", ".join(legs), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
