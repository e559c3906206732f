#!/usr/bin/env bash
# with-linux-server.sh <server program> [<argument>...] -- <command> [<argument>...]
#
# Starts a Linux server on 127.0.0.1 for one test command and stops it when the command ends.
# The server's first line on standard output must be "listening on <URL>"; the command gets the
# URL as CORVANE_SERVER_URL and in place of "{server_url}" in its arguments. Exits with the
# command's status, or 125 when the server did not come up.
set -u
server=()
while (($#)) && [[ $1 != -- ]]; do
  server+=("$1")
  shift
done
if ((${#server[@]} == 0 || $# < 2)); then
  echo "usage: with-linux-server.sh <server> [<argument>...] -- <command> [<argument>...]" >&2
  exit 2
fi
shift

output=$(mktemp)
"${server[@]}" </dev/null >"$output" &
pid=$!
stop() {
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  rm -f "$output"
}
trap stop EXIT
trap 'exit 143' TERM INT HUP

url=
for ((i = 0; i < 200; ++i)); do
  # A line counts once it is complete: read fails on a line without its line feed.
  if IFS= read -r line <"$output" && [[ $line == "listening on "* ]]; then
    url=${line#listening on }
    break
  fi
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "with-linux-server.sh: ${server[0]} ended before it listened" >&2
    exit 125
  fi
  sleep 0.05
done
if [[ -z $url ]]; then
  echo "with-linux-server.sh: ${server[0]} did not report its URL within 10 s" >&2
  exit 125
fi

export CORVANE_SERVER_URL=$url
command=()
for argument in "$@"; do
  command+=("${argument//\{server_url\}/$url}")
done
"${command[@]}"
status=$?
exit "$status"
