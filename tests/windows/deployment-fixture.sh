#!/usr/bin/env bash
# deployment-fixture.sh <directory> <hostile server> <command> [<argument>...]
#
# What the deployment tests of the gateway (HostileTest.cpp, Deployment.*) run against:
# certificates made with openssl in <directory> (a test CA, a server certificate for localhost it
# issued, another CA, a client certificate the test CA issued as a PFX file with the password
# "pfx-secret"), Debian's tinyproxy on a free loopback port, and corvane-hostile-server serving
# https with those certificates (--pki). The command gets the Windows form of <directory> in
# CORVANE_PKI, the proxy's port in CORVANE_PROXY_PORT and its log in CORVANE_PROXY_LOG. Exits
# with the command's status.
#
# Wine's TLS (GnuTLS under its schannel) now and then fails to use a freshly made client key
# ("GnuTLS error: The scanning of a large integer has failed" or "Public key signing has
# failed", then "Decryption has failed"), about one run in twenty, whatever the transport does. Such a run is tried again with new
# certificates, at most three times in all; any other failure ends the test at once.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
directory=$1 server=$2
shift 2
rm -rf "$directory"
mkdir -p "$directory"
cd "$directory"
make_certificates() {
  find "$directory" -mindepth 1 -maxdepth 1 ! -name "tinyproxy*" -exec rm -rf {} +
  ssl() { openssl "$@" 2>/dev/null; }
  ssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=CorvaneTestCA -keyout ca-key.pem -out ca.pem
  ssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=OtherCA -keyout other-key.pem -out other.pem
  issue() {  # issue <name> <subject> <extensions>
    ssl req -newkey rsa:2048 -nodes -subj "$2" -keyout "$1-key.pem" -out "$1.csr"
    printf '%s\n' "$3" >"$1.ext"
    ssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca-key.pem -CAcreateserial -days 2 \
      -extfile "$1.ext" -out "$1.pem"
  }
  issue server /CN=localhost $'subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth'
  issue client /CN=corvane-client 'extendedKeyUsage=clientAuth'
  ssl pkcs12 -export -in client.pem -inkey client-key.pem -passout pass:pfx-secret -out client.pfx
}

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >tinyproxy.conf <<EOF
Port $port
Listen 127.0.0.1
Timeout 30
MaxClients 20
Allow 127.0.0.1
LogLevel Connect
LogFile "$directory/tinyproxy.log"
EOF
: >tinyproxy.log
tinyproxy -d -c tinyproxy.conf </dev/null >/dev/null 2>&1 &
proxy=$!
trap 'kill $proxy 2>/dev/null; wait $proxy 2>/dev/null || true' EXIT
for ((i = 0; i < 100; ++i)); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.05
done

windows() { printf 'Z:%s' "${1//\//\\}"; }
export CORVANE_PKI=$(windows "$directory") CORVANE_PROXY_PORT=$port
export CORVANE_PROXY_LOG=$(windows "$directory/tinyproxy.log")
for attempt in 1 2 3; do
  make_certificates
  status=0
  "$here/../../cmake/with-linux-server.sh" "$server" --pki "$directory" -- "$@" 2>&1 |
    tee attempt.log || status=$?
  if ((status == 0)) ||
    ! grep -Eq 'GnuTLS error: (The scanning of a large integer|Public key signing)' attempt.log; then
    exit "$status"
  fi
  echo "deployment-fixture.sh: wine's GnuTLS could not use the client key of attempt $attempt"
done
exit "$status"
