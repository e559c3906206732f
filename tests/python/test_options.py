"""Every session option of corvane.Client, each seen at work against the simulated server: what
its request log shows, the failure the option causes or prevents, the TLS handshake."""
import concurrent.futures
import os
import socket
import subprocess
import sys
import time

import pytest

import corvane

ACCEPTED = {"authorization": "Bearer ***", "auth": "accepted"}


def outcome(options, url, call=lambda client: client.get_pos_config()):
    """The class and status of what a call on a new client raised; (None, 0) when it returned."""
    try:
        with corvane.Client(url, **options) as client:
            call(client)
    except corvane.Error as raised:
        return type(raised), raised.status, raised
    return None, 0, None


def last_request(mock):
    request = mock.call("GET", "/__mock/requests")["data"]["requests"][-1]
    seen = {h["name"].lower(): h["value"] for h in request["headers"]}
    return dict(seen, auth=request["auth"])


@pytest.mark.parametrize("options, token, expected", [
    (dict(token="t"), "t", ACCEPTED),
    (dict(authorization="Bearer t"), "t", ACCEPTED),
    (dict(token_callback=lambda: "t"), "t", ACCEPTED),
    (dict(headers={"X-Tenant": "7", "X-Site": "north"}), None,
     {"x-tenant": "7", "x-site": "north", "authorization": None}),
    (dict(headers=[("X-Tenant", "7")]), None, {"x-tenant": "7"}),
    (dict(compression=True), None, {"accept-encoding": "gzip"}),
    (dict(compression=False), None, {"accept-encoding": None}),
])
def test_what_an_option_sends_with_every_request(mock, catalog, options, token, expected):
    if token:
        mock.call("POST", "/__mock/token", {"token": token})
    with corvane.Client(mock.url, **options) as client:
        client.get_pos_config()
    seen = last_request(mock)
    assert {name: seen.get(name) for name in expected} == expected


def test_a_token_callback_is_asked_again_after_a_refusal_and_its_exception_is_the_cause(
        mock, catalog):
    tokens = iter(["first", "second", 7])
    mock.call("POST", "/__mock/token", {"token": "first"})
    with corvane.Client(mock.url, token_callback=lambda: next(tokens)) as client:
        client.get_pos_config()
        mock.call("POST", "/__mock/token", {"token": "second"})
        client.get_pos_config()  # refused once, then sent again with the callback's new token
        assert last_request(mock)["auth"] == "accepted"
        mock.call("POST", "/__mock/token/expire")
        with pytest.raises(corvane.Error) as refused:
            client.get_pos_config()
    assert refused.value.status == -20106
    assert isinstance(refused.value.__cause__, TypeError)  # 7 is no text


@pytest.mark.parametrize("options, fault, error, status", [
    (dict(request_timeout_ms=300), {"kind": "delay", "delayMs": 1500}, corvane.TimeoutError,
     -20202),
    (dict(max_answer_bytes=1000), {"kind": "big", "bytes": 5000}, corvane.Error, -20102),
    (dict(retries=0), {"kind": "http-error", "status": 503}, corvane.HTTPStatusError, -30503),
    (dict(retries=1), {"kind": "http-error", "status": 503}, None, 0),
    (dict(connect_timeout_ms=-1), None, corvane.Error, -20008),
    (dict(max_connections=65), None, corvane.Error, -20008),
])
def test_an_option_causes_or_prevents_a_failure(mock, catalog, options, fault, error, status):
    if fault:
        mock.fault("config/pos", count=1, **fault)
    kind, code, failure = outcome(options, mock.url)
    assert (kind, code) == (error, status)
    assert isinstance(failure, TimeoutError) == (status == -20202)  # the builtin one too


def test_connect_timeout_ms_bounds_a_connection_that_is_never_accepted():
    # A listener whose backlog is full: the kernel drops further connection attempts unanswered.
    with socket.socket() as listener:
        listener.bind(("127.0.0.1", 0))
        listener.listen(0)
        waiting = [socket.socket() for _ in range(3)]
        for connection in waiting:
            connection.setblocking(False)
            connection.connect_ex(listener.getsockname())
        time.sleep(0.1)
        begun = time.monotonic()
        kind, status, _ = outcome(dict(connect_timeout_ms=300),
                                  "http://127.0.0.1:%d" % listener.getsockname()[1])
        took = time.monotonic() - begun
        for connection in waiting:
            connection.close()
    assert (kind, status) == (corvane.TimeoutError, -20202)
    assert 0.3 <= took < 2  # the default is 5 s


@pytest.mark.parametrize("limit", [1, 2])
def test_max_connections_bounds_the_connections_of_parallel_calls(mock, catalog, limit):
    mock.fault("config/pos", kind="delay", delayMs=300, count=2)
    mock.call("DELETE", "/__mock/stats")
    with corvane.Client(mock.url, max_connections=limit) as client:
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            list(pool.map(lambda _: client.get_pos_config(), range(2)))
    # One more: the control request that asks.
    assert mock.call("GET", "/__mock/stats")["data"]["connections"] == limit + 1


@pytest.mark.parametrize("proxy, environment, error", [
    ("http://127.0.0.1:9", None, corvane.ConnectionError),
    ("", "http://127.0.0.1:9", None),  # "" is no proxy, whatever the environment says
    (None, "http://127.0.0.1:9", corvane.ConnectionError),  # absent: the environment's
])
def test_proxy(mock, catalog, monkeypatch, proxy, environment, error):
    for name in ("http_proxy", "no_proxy", "NO_PROXY"):
        monkeypatch.delenv(name, raising=False)
    if environment:
        monkeypatch.setenv("http_proxy", environment)
    assert outcome(dict(proxy=proxy), mock.url)[0] is error


def test_a_request_through_a_proxy_asks_it_for_the_whole_url(mock, catalog):
    # The simulated server is no proxy: it refuses the absolute target it was sent.
    with corvane.Client("http://192.0.2.1:1", proxy=mock.url) as client:
        with pytest.raises(corvane.ServerError) as refused:
            client.get_pos_config()
    assert refused.value.server_message == \
        "no such path http://192.0.2.1:1/vusk/api/v1.1/config/pos"


@pytest.mark.parametrize("trace, environment, lines", [
    (True, "0", 1), (False, "1", 0), (None, "1", 1), (None, "0", 0),
])
def test_trace(mock, trace, environment, lines):
    script = "import corvane, sys; corvane.Client(sys.argv[1], trace=%r).get_pos_config()" % trace
    run = subprocess.run([sys.executable, "-c", script, mock.url], capture_output=True, text=True,
                         env=dict(os.environ, ZENTA_TRACE=environment))
    assert run.returncode == 0, run.stderr
    assert run.stderr.count("GET /vusk/api/v1.1/config/pos -> HTTP 200") == lines


@pytest.mark.parametrize("options, said", [
    (dict(cert=True), "certificate verif"),  # no CA that vouches for the server
    (dict(ca=True), "asked for a client certificate"),
    (dict(ca=True, cert=True, key_password="wrong"), "its key could not be used"),
    (dict(ca=True, cert=True), None),
    (dict(verify_tls=False, cert=True, revocation_best_effort=True), None),
])
def test_tls(tls, options, said):
    keywords = dict(verify_tls=options.get("verify_tls"), ca_file=tls.ca if "ca" in options else
                    None, revocation_best_effort=options.get("revocation_best_effort"))
    if "cert" in options:
        keywords.update(cert=tls.cert, key=tls.key,
                        key_password=options.get("key_password", tls.key_password))
    kind, _, failure = outcome(keywords, tls.url)
    assert kind is (None if said is None else corvane.TLSError)
    assert said is None or said in str(failure)
