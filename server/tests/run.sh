#!/usr/bin/env bash
# Runs the server's tests; they start their own servers on 127.0.0.30-33 and 127.0.1.10-52 in a
# temporary folder. SKV_TEST_PRODUCTION=1 runs them against nginx and PHP-FPM.
here=$(cd "$(dirname "$0")" && pwd)
exec /usr/bin/python3 "$here/run_tests.py" "$@"
