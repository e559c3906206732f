"""Runs OperationsCheck (the C interface from C) against a fresh corvane-mock-server.

Writes to the program's standard input the result lines it must find, made from the server's
catalog (and, for contacts and POS event names, which the catalog leaves out, from the server's
own answers), makes the first dictionary-mapper answer hold a word, runs the program and then
checks that its three settings reached every request it sent.
usage: capi_driver.py <server URL> <program> [<argument>...]
"""
import json
import subprocess
import sys
import urllib.request

URL = sys.argv[1]
HEADERS = {"Accept-Language": "en", "Content-Type": "application/json", "Time-Zone": "UTC"}


def call(method, path, body=None, headers=None):
    data = None if body is None else json.dumps(body).encode()
    request = urllib.request.Request(URL + path, data, headers or {}, method=method)
    with urllib.request.urlopen(request) as answer:
        return json.load(answer)


def expected_lines():
    catalog = call("GET", "/__mock/catalog")["data"]
    lines = [f"ai-privacy|{catalog['aiPrivacyEnable']}", f"pos|{int(catalog['posPlaybackTime'])}"]
    channels = {}
    for device in catalog["devices"]:
        lines.append(f"web|{device['deviceId']}|{int(device['enableWeb'])}")
        for channel in device["channels"]:
            cid = channel["channelId"]
            channels[cid] = channel
            lines.append(f"channel-web|{cid}|{int(channel['enableWeb'])}")
            lines.append(f"trails|{cid}|{len(channel['trails'])}")
            lines += [f"trail|{cid}|{t['trailId']}|{t['trailName']}" for t in channel["trails"]]
            if channel["speaker"]:
                online = int(channel["online"])
                lines.append(f"volume|{cid}|{channel['channelName']}|{channel['microphoneVolume']}"
                             f"|{channel['speakerVolume']}|{online}")
                lines.append(f"set-volume|{cid}|{0 if online else -1}")
                lines.append(f"audio-files|{cid}|{len(channel['audioFiles'])}")
                lines += [f"audio|{cid}|{f['fileId']}|{f['fileName']}" for f in channel["audioFiles"]]
    lines += [f"picture|{p['pictureId']}|{p['bytes']}|{p['width']}|{p['height']}"
              for p in catalog["pictures"]]
    # Files on both D2001-C01 and D2001-C02, in C01's order, with each channel's id for them.
    pair = [{f["fileName"]: f["fileId"] for f in channels[c]["audioFiles"]}
            for c in ("D2001-C01", "D2001-C02")]
    shared = [f["fileName"] for f in channels["D2001-C01"]["audioFiles"] if f["fileName"] in pair[1]]
    lines.append(f"same-audio|{len(shared)}")
    lines += [f"same|{name}|D2001-C0{i + 1}|{pair[i][name]}" for name in shared for i in (0, 1)]
    for mapper_type, entries in catalog["mappers"].items():
        mapping = {int(e["key"]): int(e["value"]) for e in entries}
        lines.append(f"mapper|{mapper_type}|{len(mapping)}")
        lines += [f"map|{mapper_type}|{key}|{value}" for key, value in mapping.items()]
    alarm = max(catalog["alarms"], key=lambda a: len(a["sources"]))
    path = f"/vusk/api/v1.1/alarm/record/contact/detail?alarmCode={alarm['alarmCode']}" \
           f"&alarmDate={alarm['alarmDate']}"
    sources = call("GET", path, headers=HEADERS)["data"]["results"]
    lines.append(f"alarm|{alarm['alarmCode']}|{len(sources)}")
    for s in sources:
        lines.append(f"source|{s['sourceName']}|{s['devicePosition']}|{len(s['deviceContacts'])}")
        lines += ["|".join(["contact", s["sourceName"]] + [c[k] for k in
                  ("contactName", "contactPhone", "contactEmail", "contactNote")])
                  for c in s["deviceContacts"]]
    names = {}
    for group in call("GET", "/vusk/api/v1.1/dictionary/list?types=9052", headers=HEADERS)["data"][
            "results"]:
        names.update({int(item["code"]): item["name"].split("\0")[0] for item in group["items"]})
    lines.append(f"pos-events|{len(names)}")
    lines += [f"pos-event|{code}|{name}" for code, name in names.items()]
    return lines, alarm


lines, alarm = expected_lines()
word = {"code": 1000, "data": {"results": [{"key": "seven", "value": "7"}]}}
call("POST", "/__mock/faults", {"path": "/vusk/api/v1.1/config/dictionary-mapper",
                                "kind": "garbage", "count": 1, "body": json.dumps(word)})
call("DELETE", "/__mock/requests")
run = subprocess.run(sys.argv[2:] + [URL, alarm["alarmCode"], str(alarm["alarmDate"])],
                     input=("\n".join(lines) + "\n").encode())
wrong = 0
requests = call("GET", "/__mock/requests")["data"]["requests"]
for request in requests:
    headers = {h["name"].lower(): h["value"] for h in request["headers"]}
    mac = json.loads(request["body"]).get("clientMac") if request["method"] == "POST" else "-"
    if (headers.get("accept-language"), headers.get("time-zone")) != ("fr-CH", "Europe/Zurich") \
            or mac not in ("-", "02-00-5E-10-00-2A"):
        print(f"FAIL: settings not in {request['method']} {request['target']}: {headers} {mac}")
        wrong += 1
if len(requests) < 30:
    print(f"FAIL: only {len(requests)} requests reached the server")
    wrong += 1
sys.exit(run.returncode or wrong)
