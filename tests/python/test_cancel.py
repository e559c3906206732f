"""Scopes, cancel, close, asyncio and progress against a picture that the simulated server sends
slowly: a cancelled call ends at once with CancelledError and the parent goes on working."""
import asyncio
import threading
import time

import pytest

import corvane
import corvane.aio

PICTURE = "P0900"  # 922,218 bytes
PICTURE_PATH = "/vusk/api/v1.1/common/request/picture/" + PICTURE
PROMPT = 1.0  # seconds: "at once" here; the latency itself is the benchmarks' business


def slow_picture(mock, bytes_per_second=115000):
    """The next picture answer trickles: its head at once, its body over 8 s by default."""
    mock.call("POST", "/__mock/faults", {"path": PICTURE_PATH, "kind": "trickle",
                                         "bytesPerSecond": bytes_per_second, "count": 1})


def in_thread(call):
    """Runs call on a thread; the returned function joins it and gives what it raised and how
    long it took."""
    outcome = {}

    def run():
        begun = time.monotonic()
        try:
            call()
        except BaseException as raised:
            outcome["raised"] = raised
        outcome["took"] = time.monotonic() - begun

    thread = threading.Thread(target=run)
    thread.start()

    def join():
        thread.join(10)
        return outcome.get("raised"), outcome["took"]

    return join


def open_connections(mock, within=PROMPT):
    """The server's open connections once they are down to 1 (the asking one), or after within
    seconds."""
    deadline = time.monotonic() + within
    while True:
        count = mock.call("GET", "/__mock/stats")["data"]["openConnections"]
        if count <= 1 or time.monotonic() > deadline:
            return count
        time.sleep(0.05)


def requests(mock):
    return len(mock.call("GET", "/__mock/requests")["data"]["requests"])


def test_scope_cancel_ends_a_call_on_another_thread_and_only_its_own(client, catalog, mock):
    slow_picture(mock)
    scope = client.scope()
    join = in_thread(lambda: scope.download_device_picture(PICTURE))
    time.sleep(0.3)
    begun = time.monotonic()
    scope.cancel()
    raised, _ = join()
    assert isinstance(raised, corvane.CancelledError) and raised.status == -20107
    assert time.monotonic() - begun < PROMPT
    sent = requests(mock)
    with pytest.raises(corvane.CancelledError):  # later calls too, sending nothing
        scope.get_pos_config()
    assert requests(mock) == sent
    assert client.get_pos_config() >= 0  # the parent is untouched
    scope.close()


@pytest.mark.parametrize("close", [
    lambda client, scope: client.close(),  # its scopes go with it
    lambda client, scope: scope.close(),
])
def test_closing_returns_at_once_and_ends_the_calls_in_flight(mock, catalog, close):
    slow_picture(mock)
    client = corvane.Client(mock.url)
    scope = client.scope()
    join = in_thread(lambda: scope.download_device_picture(PICTURE))
    time.sleep(0.3)
    begun = time.monotonic()
    close(client, scope)
    closing = time.monotonic() - begun
    raised, took = join()
    assert closing < PROMPT and took < 0.3 + PROMPT
    assert isinstance(raised, corvane.CancelledError)
    with pytest.raises(ValueError, match="closed"):
        scope.get_pos_config()
    client.close()


def test_a_scope_is_a_context_manager_whose_scopes_end_with_it(client, catalog):
    with client.scope() as scope:
        inner = scope.scope()
        assert inner.get_pos_config() >= 0
        scope.cancel()
        with pytest.raises(corvane.CancelledError):
            inner.get_pos_config()
    assert scope.closed and not client.closed


@pytest.mark.parametrize("cancel, ends_with", [
    (lambda task, scope: task.cancel(), asyncio.CancelledError),
    (lambda task, scope: scope.cancel(), corvane.CancelledError),  # a view's scope
])
def test_an_asyncio_download_cancelled_after_300_ms_ends_promptly(mock, catalog, cancel,
                                                                  ends_with):
    slow_picture(mock)

    async def run():
        async with corvane.aio.Client(mock.url) as client:
            scope = client.scope()
            task = asyncio.ensure_future(scope.download_device_picture(PICTURE))
            await asyncio.sleep(0.3)
            begun = time.monotonic()
            cancel(task, scope)
            with pytest.raises(ends_with):
                await task
            took = time.monotonic() - begun
            return took, open_connections(mock), await client.get_pos_config()

    took, connections, pos = asyncio.run(run())
    assert took < PROMPT and pos >= 0
    assert connections == 1  # the download's is gone: only the one asking is open


def summary(error):
    """The class, status, sentence and cause's class of a corvane.Error."""
    return (type(error), error.status, str(error),
            type(error.__cause__) if error.__cause__ else None)


def described(call):
    """What call returned, or the summary of the corvane.Error it raised."""
    try:
        return call()
    except corvane.Error as error:
        return summary(error)


@pytest.mark.parametrize("call", [
    lambda c: c.download_device_picture("P 0200", 7),
    lambda c: c.set_ip_speaker_volume("D2001-C01", speaker_volume=55),
    lambda c: c.get_alarm_device_contacts("ALM-0001", 1710852658426),
    lambda c: c.get_ptz_trail_list("D9999-C01"),  # a refusal: the same error
])
def test_a_coroutine_does_what_the_method_does(mock, catalog, call):
    async def run():
        async with corvane.aio.Client(mock.url) as client:
            try:
                return await call(client)
            except corvane.Error as error:
                return summary(error)

    with corvane.Client(mock.url) as client:
        expected = described(lambda: call(client))
    assert asyncio.run(run()) == expected


@pytest.mark.parametrize("stop, cause", [
    (None, None),
    (lambda received, total: received > 0, None),  # a true return cancels
    (lambda received, total: 1 / 0, ZeroDivisionError),  # so does an exception
])
def test_progress_reports_growing_counts_of_the_announced_total(client, catalog, mock, stop,
                                                                 cause):
    slow_picture(mock, 3000000)  # 0.3 s
    seen = []

    def progress(received, total):
        seen.append((received, total))
        return stop and stop(received, total)

    raised = described(lambda: client.download_device_picture(PICTURE, progress=progress))
    assert seen and {total for _, total in seen} == {922218}
    assert [received for received, _ in seen] == sorted(received for received, _ in seen)
    if stop is None:
        assert len(raised.picture_data) == seen[-1][0] == 922218
    else:
        assert raised[:2] + raised[3:] == (corvane.CancelledError, -20107, cause)
