"""The Python package, installed with pip, against corvane-mock-server: every operation compared
with the server's catalog, the errors with their whole message, the settings on the wire, the
refusals before anything is sent, and where the package finds the library."""
import os
import subprocess
import sys
import threading

import pytest

import corvane

CHANNEL = "D1001-C01"


def channels(catalog):
    return {c["channelId"]: c for d in catalog["devices"] for c in d["channels"]}


def test_every_operation_reads_what_the_server_holds(client, catalog, mock):
    by_id = channels(catalog)
    assert client.get_ai_privacy_config() == catalog["aiPrivacyEnable"]
    assert client.get_pos_config() == int(catalog["posPlaybackTime"])
    for device in catalog["devices"]:
        assert client.get_web_enablement(device["deviceId"]) is bool(device["enableWeb"])
    for channel_id, channel in by_id.items():
        assert client.get_channel_web_enablement(channel_id) is bool(channel["enableWeb"])
        assert client.get_ptz_trail_list(channel_id) == [
            corvane.PtzTrail(t["trailId"], t["trailName"]) for t in channel["trails"]]
    picture = client.download_device_picture("P 0200", tag=7)
    size = {p["pictureId"]: p for p in catalog["pictures"]}["P 0200"]
    assert (picture.tag, len(picture.picture_data), picture.picture_data[1:4]) == \
        (7, size["bytes"], b"PNG")
    assert int.from_bytes(picture.picture_data[16:20], "big") == size["width"]
    speaker = by_id["D2001-C01"]
    assert client.get_ip_speaker_volume("D2001-C01") == corvane.SpeakerVolume(
        "D2001-C01", speaker["microphoneVolume"], speaker["speakerVolume"],
        int(speaker["online"]), speaker["channelName"])
    assert client.get_ip_speaker_audio_list("D2001-C01") == [
        corvane.AudioFile("D2001-C01", f["fileId"], f["fileName"]) for f in speaker["audioFiles"]]
    other = {f["fileName"]: f["fileId"] for f in by_id["D2001-C02"]["audioFiles"]}
    assert client.get_ip_speaker_same_audio_list(["D2001-C01", "D2001-C02"]) == [
        corvane.SameAudioFile(f["fileName"], (corvane.ChannelFile("D2001-C01", f["fileId"]),
                                              corvane.ChannelFile("D2001-C02",
                                                                  other[f["fileName"]])))
        for f in speaker["audioFiles"] if f["fileName"] in other]
    # The alarm date needs all 64 bits: cut to 32, it would name another record (4004).
    alarm = catalog["alarms"][0]
    assert alarm["alarmDate"] > 2**32
    served = mock.api("alarm/record/contact/detail?alarmCode=%s&alarmDate=%d"
                      % (alarm["alarmCode"], alarm["alarmDate"]))["results"]
    contacts = client.get_alarm_device_contacts(alarm["alarmCode"], alarm["alarmDate"])
    assert contacts == [corvane.DeviceContact(s["sourceName"], s["devicePosition"], tuple(
        corvane.Contact(c["contactName"], c["contactPhone"], c["contactEmail"], c["contactNote"])
        for c in s["deviceContacts"])) for s in served]
    assert contacts and contacts[0].device_contacts
    names = {}
    for group in mock.api("dictionary/list?types=9052")["results"]:
        names.update({int(item["code"]): item["name"] for item in group["items"]})
    assert client.get_pos_event_translate() == names
    for mapper_type, entries in catalog["mappers"].items():
        assert client.query_dictionary_mapper(int(mapper_type)) == {
            int(e["key"]): int(e["value"]) for e in entries}
    first, second = (client.start_remote_record(CHANNEL, 0, 60) for _ in range(2))
    assert second.plan_id == first.plan_id + 1 and first.now > 1.6e12


def test_volume_update_is_read_back_and_a_refused_channel_raises(client, catalog):
    offline = next(c["channelId"] for c in channels(catalog).values()
                   if c["speaker"] and not c["online"])
    client.set_ip_speaker_volume("D2001-C01", microphone_volume=37, speaker_volume=63)
    volume = client.get_ip_speaker_volume("D2001-C01")
    assert (volume.microphone_volume, volume.speaker_volume) == (37, 63)
    client.set_ip_speaker_volume("D2001-C01", speaker_volume=5)  # the microphone stays
    volume = client.get_ip_speaker_volume("D2001-C01")
    assert (volume.microphone_volume, volume.speaker_volume) == (37, 5)
    with pytest.raises(corvane.Error) as refused:
        client.set_ip_speaker_volume(offline, speaker_volume=50)
    assert refused.value.status == -1
    assert str(refused.value).startswith("the server listed the channel as failed")


@pytest.mark.parametrize("fault, status, message", [
    # None: the server's own refusal of an unknown device.
    (None, 4004, "the server refused the request with code 4004: no device D9999"),
    ({"kind": "garbage", "count": 1}, -1, "the answer could not be read"),
    ({"kind": "http-error", "status": 502, "count": 1}, -30502,
     "the server answered HTTP 502 without a JSON body (status -30502)"),
    ({"kind": "garbage", "count": 1, "body": '{"code":4005,"data":{}}'}, 4005,
     "the server refused the request with code 4005 and no message"),
])
def test_a_failure_raises_error_with_the_whole_message(client, catalog, mock, fault, status,
                                                       message):
    if fault:
        mock.fault("device/D9999/web/enablement", **fault)
    with pytest.raises(corvane.Error) as failure:
        client.get_web_enablement("D9999")
    assert failure.value.status == status
    assert str(failure.value).startswith(message)
    assert failure.value.server_message == ("no device D9999" if fault is None else "")


def test_a_gateway_failure_carries_the_transports_words(catalog):
    with corvane.Client("http://127.0.0.1:9", connect_timeout_ms=2000) as client:
        with pytest.raises(corvane.Error) as failure:
            client.get_ptz_trail_list(CHANNEL)
    assert failure.value.status == -20201
    message = str(failure.value)
    assert message.startswith("the connection to the server was refused or could not be made "
                              "(status -20201): ")
    assert "127.0.0.1" in message or "refused" in message.split(": ", 1)[1].lower()
    with pytest.raises(corvane.Error) as bad_url:
        corvane.Client("ftp://127.0.0.1")
    assert bad_url.value.status == -20006


def test_a_path_that_does_not_fit_is_refused_with_its_reason(client, mock):
    mock.call("DELETE", "/__mock/requests")
    with pytest.raises(corvane.Error) as failure:
        client.get_ptz_trail_list("D" * 1300)
    assert failure.value.status == -2
    assert str(failure.value).startswith("the request does not fit")
    assert mock.call("GET", "/__mock/requests")["data"]["requests"] == []


def test_a_wrong_type_in_the_answer_names_the_exception(client, mock):
    mock.fault("config/dictionary-mapper", kind="garbage", count=1,
               body='{"code":1000,"data":{"results":[{"key":"1","value":"twelve"}]}}')
    with pytest.raises(corvane.Error) as failure:
        client.query_dictionary_mapper(1)
    assert failure.value.status == -40002
    assert "is not a decimal integer" in str(failure.value)


def test_messages_stay_with_the_thread_that_failed(client):
    results = {}

    def run(name, device):
        outcomes = []
        for _ in range(20):
            try:
                client.get_web_enablement(device)
                outcomes.append("ok")
            except corvane.Error as error:
                outcomes.append(error.server_message)
        results[name] = set(outcomes)

    threads = [threading.Thread(target=run, args=(i, "D9999" if i % 2 else "D1001"))
               for i in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == {0: {"ok"}, 1: {"no device D9999"}, 2: {"ok"}, 3: {"no device D9999"}}


def test_settings_reach_every_request(client, mock):
    corvane.set_language("fr-CH")
    corvane.set_time_zone("Europe/Zurich")
    corvane.set_mac_address("02-00-5E-10-00-2A")
    try:
        mock.call("DELETE", "/__mock/requests")
        client.get_pos_config()
        client.start_remote_record(CHANNEL, 1, 30)
        requests = mock.call("GET", "/__mock/requests")["data"]["requests"]
    finally:
        corvane.set_language("en")
        corvane.set_time_zone("UTC")
    assert len(requests) == 2
    for request in requests:
        headers = {h["name"].lower(): h["value"] for h in request["headers"]}
        assert (headers["accept-language"], headers["time-zone"]) == ("fr-CH", "Europe/Zurich")
    assert '"clientMac":"02-00-5E-10-00-2A"' in requests[1]["body"]


@pytest.mark.parametrize("call, error", [
    (lambda c: c.get_alarm_device_contacts("ALM-0001", 2**63), OverflowError),
    (lambda c: c.start_remote_record(CHANNEL, 0, 2**31), OverflowError),
    (lambda c: c.query_dictionary_mapper(-2**31 - 1), OverflowError),
    (lambda c: c.get_ptz_trail_list("D1001\0-C01"), ValueError),
    (lambda c: c.get_ptz_trail_list(1001), TypeError),
    (lambda c: c.download_device_picture("P0001", tag=True), TypeError),
    (lambda c: corvane.set_language("en\0US"), ValueError),
])
def test_what_c_would_cut_is_refused_before_anything_is_sent(client, mock, call, error):
    mock.call("DELETE", "/__mock/requests")
    with pytest.raises(error):
        call(client)
    assert mock.call("GET", "/__mock/requests")["data"]["requests"] == []


def test_a_client_is_closed_by_its_with_block_and_takes_no_unknown_option(mock):
    with corvane.Client(mock.url) as client:
        assert client.get_pos_config() >= 0
    assert client.closed
    with pytest.raises(ValueError):
        client.get_pos_config()
    client.close()  # again: nothing happens
    with pytest.raises(TypeError, match="unknown session option 'timeout'"):
        corvane.Client(mock.url, timeout=5)


def load(environment):
    """What a fresh interpreter says of the library it loads with these variables."""
    script = "import corvane; print(corvane.library_version(), corvane._native.libraries()" \
             ".corvane_path)"
    run = subprocess.run([sys.executable, "-c", script], env=environment, capture_output=True,
                         text=True)
    return run.returncode, run.stdout + run.stderr


def test_the_library_is_found_by_variable_then_on_the_search_path():
    library = os.environ["CORVANE_LIBRARY"]
    assert corvane.library_version() == corvane.__version__
    base = {k: v for k, v in os.environ.items()
            if k not in ("CORVANE_LIBRARY", "LD_LIBRARY_PATH")}
    status, said = load(dict(base, CORVANE_LIBRARY=library))
    assert (status, said.split()) == (0, [corvane.__version__, library])
    status, said = load(dict(base, LD_LIBRARY_PATH=os.path.dirname(library)))
    assert (status, said.split()) == (0, [corvane.__version__, "libCorvane.so.0"])
    status, said = load(dict(base, CORVANE_LIBRARY="/nowhere/libCorvane.so"))
    assert status != 0 and "set CORVANE_LIBRARY" in said and "/nowhere/libZENTA.so" in said
