"""Fixtures of the Python package's tests: the simulated server that CTest started
(CORVANE_SERVER_URL, cmake/with-linux-server.sh), its catalog, a client on it, and an HTTPS one
that asks for a client certificate (CORVANE_MOCK_SERVER names the program)."""
import json
import os
import subprocess
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


class Tls:
    """Files of an HTTPS simulated server for 127.0.0.1 (its certificate: ca) that asks for a
    client certificate (cert, with key encrypted by key_password), and its URL."""
    key_password = "client secret"


def _openssl(*arguments):
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-days", "2"]
                   + list(arguments), check=True, capture_output=True)


@pytest.fixture(scope="session")
def tls(tmp_path_factory):
    folder = tmp_path_factory.mktemp("tls")
    files = Tls()
    files.ca, server_key = str(folder / "server-cert.pem"), str(folder / "server-key.pem")
    files.cert, files.key = str(folder / "client-cert.pem"), str(folder / "client-key.pem")
    _openssl("-nodes", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
             "-keyout", server_key, "-out", files.ca)
    _openssl("-subj", "/CN=corvane-client", "-passout", "pass:" + files.key_password,
             "-keyout", files.key, "-out", files.cert)
    server = subprocess.Popen([os.environ["CORVANE_MOCK_SERVER"], "--port", "0", "--tls-cert",
                               files.ca, "--tls-key", server_key, "--tls-client-ca", files.cert],
                              stdout=subprocess.PIPE, text=True)
    try:
        files.url = server.stdout.readline().split()[-1]
        yield files
    finally:
        server.terminate()
        server.wait()
