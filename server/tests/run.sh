#!/usr/bin/env bash
# Runs the server's tests; they start their own servers on 127.0.0.30-33 in a temporary folder.
here=$(cd "$(dirname "$0")" && pwd)
exec /usr/bin/python3 "$here/run_tests.py" "$@"
