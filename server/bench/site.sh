#!/usr/bin/env bash
# Benchmark (not a test) of the website: 1,000,000 scores and 100,000 designs on SQLite and on
# PostgreSQL (a cluster of its own on 127.0.3.21), served on 127.0.3.20 and .22; prints median
# and p99 server time per page kind. Options: --db sqlite|postgres|both, --scores, --designs, --requests.
here=$(cd "$(dirname "$0")" && pwd)
exec /usr/bin/python3 "$here/site.py" "$@"
