#!/usr/bin/env bash
# Runs the server's tests; they start their own servers, on addresses picked at run time
# (127.1.0.0/16), in a temporary folder.
# SKV_TEST_PRODUCTION=1 runs them against nginx and PHP-FPM.
here=$(cd "$(dirname "$0")" && pwd)
exec /usr/bin/python3 "$here/run_tests.py" "$@"
