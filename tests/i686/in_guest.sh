#!/bin/bash
# Runs inside the guest (tests/i686/run_flows writes the settings it sources): a screen, one
# persistent wineserver, then each flow as its own run of the i686 e2e program under 32-bit
# Wine with its own time limit. Results go to $OUT/results, one "NAME RESULT SECONDS" a line.
set -u
. "$(dirname "$0")/settings"
# No debugger: a crashed program ends at once instead of waiting in winedbg.
export WINEARCH=win32 WINEPREFIX=/root/.wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export HOME=/root
# Wine maps a program from the 9p share wrongly (the i686 e2e program faulted in main): every
# program runs from the guest's own disk.
mkdir -p /tmp/i686-bin
for name in E2E STARTER_EXE STARTER_DLL STARTER_ZP_STANDIN STARTER_SETUP_STANDIN STARTER_UIDRIVER_PROBE; do
  cp "${!name}" /tmp/i686-bin/
  declare -x "$name=/tmp/i686-bin/$(basename "${!name}")"
done
: >"$OUT/results"
Xvfb :7 -screen 0 1024x768x24 -nolisten tcp >"$OUT/xvfb.log" 2>&1 &
for _ in $(seq 300); do [ -S /tmp/.X11-unix/X7 ] && break; sleep 0.1; done
export DISPLAY=:7
start=$(date +%s)
wineserver -p >/dev/null 2>&1 </dev/null &
# Wine's own services start now, away from the flows' output.
wine wineboot >/dev/null 2>&1 </dev/null
echo "in_guest: Wine ready in $(( $(date +%s) - start )) s"
while read -r name filter; do
  case $name in ''|'#'*) continue ;; esac
  start=$(date +%s)
  echo "$name" >"$OUT/current"
  timeout -k 10 "$FLOW_LIMIT" wine "$E2E" --gtest_filter="$filter" --gtest_color=no >"$OUT/$name.log" 2>&1
  status=$?
  # Which tests ran and passed is judged from the log on the host (run_flows).
  case $status in 0) result=PASS ;; 124|137) result=TIMEOUT ;; *) result=FAIL ;; esac
  echo "$name $result $(( $(date +%s) - start ))" | tee -a "$OUT/results"
  if [ "$result" = TIMEOUT ]; then
    # Whatever the hung flow left running would meet the next flow: a fresh wineserver.
    wineserver -k; wineserver -p >/dev/null 2>&1 </dev/null &
  fi
done <"$FLOWS"
wineserver -k
