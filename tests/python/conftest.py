"""Fixtures of the Python package's tests: the simulated server that CTest started
(CORVANE_SERVER_URL, cmake/with-linux-server.sh), its catalog, and a client on it."""
import json
import os
import urllib.request

import pytest

import corvane

HEADERS = {"Accept-Language": "en", "Content-Type": "application/json", "Time-Zone": "UTC"}


class Mock:
    """The simulated server: its URL, its control API and its platform endpoints."""

    def __init__(self, url):
        self.url = url

    def call(self, method, path, body=None, headers=None):
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(self.url + path, data, headers or {}, method=method)
        with urllib.request.urlopen(request) as answer:
            return json.load(answer)

    def api(self, path):
        return self.call("GET", "/vusk/api/v1.1/" + path, headers=HEADERS)["data"]

    def fault(self, path, **fault):
        self.call("POST", "/__mock/faults", dict(fault, path="/vusk/api/v1.1/" + path))


@pytest.fixture(scope="session")
def mock():
    url = os.environ.get("CORVANE_SERVER_URL")
    if not url:
        pytest.fail("CORVANE_SERVER_URL is not set: run through CTest (python.package)")
    return Mock(url)


@pytest.fixture
def catalog(mock):
    mock.call("POST", "/__mock/reset")
    return mock.call("GET", "/__mock/catalog")["data"]


@pytest.fixture
def client(mock, catalog):
    with corvane.Client(mock.url, request_timeout_ms=10000) as client:
        yield client
