#!/usr/bin/env bash
# CTest fixture: starts corvane-mock-server on free loopback ports and stops it again: one plain
# HTTP server (DIR/url), and for the TLS tests two HTTPS servers with self-signed certificates
# made here by openssl, one for 127.0.0.1 (DIR/url-good, DIR/good-cert.pem) and one made out
# for 127.0.0.2 (DIR/url-other, DIR/other-cert.pem); and one HTTPS server that asks for a client
# certificate issued by DIR/client-ca.pem (DIR/url-mtls), with one it issued (DIR/client-cert.pem,
# DIR/client-key.pem).
#   mock-server-fixture.sh start DIR SERVER-BINARY
#   mock-server-fixture.sh stop DIR
set -euo pipefail
dir=$2

# serve NAME ARGS...: starts the server, waits for its first line, writes DIR/NAME and its pid.
serve() {
  local name=$1
  shift
  "$server" --port 0 "$@" >"$dir/$name.out" 2>"$dir/$name.err" &
  echo $! >>"$dir/pids"
  for _ in $(seq 1 100); do
    if line=$(head -n 1 "$dir/$name.out" 2>/dev/null) && [[ $line == "listening on "* ]]; then
      echo "${line#listening on }" >"$dir/$name"
      echo "mock server at $(cat "$dir/$name")"
      return 0
    fi
    sleep 0.1
  done
  echo "the mock server did not start:" >&2
  cat "$dir/$name.err" >&2
  exit 1
}

case $1 in
  start)
    server=$3
    mkdir -p "$dir"
    rm -f "$dir"/url* "$dir/pids" "$dir"/*.out
    serve url
    for cert in good:127.0.0.1 other:127.0.0.2; do
      name=${cert%%:*}
      ip=${cert#*:}
      openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$ip" \
        -addext "subjectAltName=IP:$ip" -keyout "$dir/$name-key.pem" -out "$dir/$name-cert.pem" \
        >/dev/null 2>&1 || { echo "openssl could not make a certificate" >&2; exit 1; }
      serve "url-$name" --tls-cert "$dir/$name-cert.pem" --tls-key "$dir/$name-key.pem"
    done
    {
      openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=client CA" \
        -keyout "$dir/client-ca-key.pem" -out "$dir/client-ca.pem" &&
        openssl req -newkey rsa:2048 -nodes -subj "/CN=client" -keyout "$dir/client-key.pem" \
          -out "$dir/client.csr" &&
        openssl x509 -req -in "$dir/client.csr" -CA "$dir/client-ca.pem" -days 2 \
          -CAkey "$dir/client-ca-key.pem" -CAcreateserial -out "$dir/client-cert.pem"
    } >/dev/null 2>&1 || { echo "openssl could not make the client certificates" >&2; exit 1; }
    serve url-mtls --tls-cert "$dir/good-cert.pem" --tls-key "$dir/good-key.pem" \
      --tls-client-ca "$dir/client-ca.pem"
    ;;
  stop)
    if [[ -f $dir/pids ]]; then
      pids=$(cat "$dir/pids")
      kill $pids 2>/dev/null || true
      for pid in $pids; do
        for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
      done
      rm -f "$dir/pids"
    fi
    ;;
  *)
    echo "usage: $0 start|stop DIR [SERVER]" >&2
    exit 2
    ;;
esac
