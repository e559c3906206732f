#!/usr/bin/env python3
"""A counting TCP front for bench/wine-cost.sh.

    wire_count.py <server port>

Listens on a free port of 127.0.0.1 (its first output line is "listening on PORT"), forwards each
connection it accepts to 127.0.0.1:<server port> byte for byte in both directions, and writes one
line per event: "connection" when it accepts one, and, when the server speaks TLS, "handshake" for
each ServerHello and "certificate" for each Certificate message the server sends.

A full TLS 1.2 handshake carries the server's certificate; a resumed one (session id or ticket)
goes from ServerHello straight to ChangeCipherSpec. Both travel in the clear up to that point, so
watching the server's side of the wire tells them apart without touching the server: resumed =
handshakes - certificates. Under TLS 1.3 the certificate is encrypted, so the benchmark's server
is held to TLS 1.2. Runs until it is killed.
"""
import socket
import sys
import threading

lock = threading.Lock()

HANDSHAKE, CHANGE_CIPHER_SPEC = 22, 20
SERVER_HELLO, CERTIFICATE = 2, 11


def say(event):
    with lock:
        sys.stdout.write(event + "\n")
        sys.stdout.flush()


class ServerFlight:
    """Reads the server's TLS records until its ChangeCipherSpec and reports the handshake
    messages that matter; stops at the first byte that is not a TLS record (plain HTTP)."""

    def __init__(self):
        self.records = b""
        self.messages = b""
        self.done = False

    def feed(self, data):
        if self.done:
            return
        self.records += data
        while len(self.records) >= 5 and not self.done:
            kind = self.records[0]
            length = int.from_bytes(self.records[3:5], "big")
            if kind not in (20, 21, 22, 23) or self.records[1] != 3:
                self.done = True
            elif len(self.records) < 5 + length:
                return
            elif kind == CHANGE_CIPHER_SPEC:
                self.done = True
            else:
                if kind == HANDSHAKE:
                    self.messages += self.records[5 : 5 + length]
                    self.read_messages()
                self.records = self.records[5 + length :]

    def read_messages(self):
        while len(self.messages) >= 4:
            length = int.from_bytes(self.messages[1:4], "big")
            if len(self.messages) < 4 + length:
                return
            if self.messages[0] == SERVER_HELLO:
                say("handshake")
            elif self.messages[0] == CERTIFICATE:
                say("certificate")
            self.messages = self.messages[4 + length :]


def pump(source, sink, flight=None):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            if flight:
                flight.feed(data)
            sink.sendall(data)
    except OSError:
        pass
    try:
        sink.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def serve(client, port):
    try:
        server = socket.create_connection(("127.0.0.1", port))
    except OSError:
        client.close()
        return
    for end in (client, server):
        end.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    back = threading.Thread(target=pump, args=(server, client, ServerFlight()), daemon=True)
    back.start()
    pump(client, server)
    back.join()
    client.close()
    server.close()


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: wire_count.py <server port>")
    port = int(sys.argv[1])
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    say("listening on %d" % listener.getsockname()[1])
    while True:
        client, _ = listener.accept()
        say("connection")
        threading.Thread(target=serve, args=(client, port), daemon=True).start()


if __name__ == "__main__":
    main()
