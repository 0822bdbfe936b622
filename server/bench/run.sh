#!/usr/bin/env bash
# Benchmark (not a test): fills 1,000,000 scores and 100,000 designs into a temporary SQLite
# store, serves it on 127.0.0.38 and prints median and p99 answer times.
here=$(cd "$(dirname "$0")" && pwd)
exec /usr/bin/python3 "$here/bench.py" "$@"
