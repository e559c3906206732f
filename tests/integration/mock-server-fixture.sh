#!/usr/bin/env bash
# CTest fixture: starts corvane-mock-server on a free loopback port and stops it again.
#   mock-server-fixture.sh start DIR SERVER-BINARY   writes DIR/url and DIR/pid
#   mock-server-fixture.sh stop DIR
set -euo pipefail
dir=$2
case $1 in
  start)
    mkdir -p "$dir"
    rm -f "$dir/url" "$dir/pid" "$dir/out"
    "$3" --port 0 >"$dir/out" 2>"$dir/err" &
    echo $! >"$dir/pid"
    for _ in $(seq 1 100); do
      if line=$(head -n 1 "$dir/out" 2>/dev/null) && [[ $line == "listening on "* ]]; then
        echo "${line#listening on }" >"$dir/url"
        echo "mock server at $(cat "$dir/url") (pid $(cat "$dir/pid"))"
        exit 0
      fi
      sleep 0.1
    done
    echo "the mock server did not start:" >&2
    cat "$dir/err" >&2
    exit 1
    ;;
  stop)
    if [[ -f $dir/pid ]]; then
      pid=$(cat "$dir/pid")
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -9 "$pid" 2>/dev/null || true
      rm -f "$dir/pid"
    fi
    ;;
  *)
    echo "usage: $0 start|stop DIR [SERVER]" >&2
    exit 2
    ;;
esac
