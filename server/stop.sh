#!/usr/bin/env bash
# Stops the web and FTP servers that start.sh started for DIR.
set -euo pipefail
usage() { echo "usage: $0 --data DIR [--only web|ftp]" >&2; exit 2; }
data='' only=''
while [ $# -gt 0 ]; do
  case $1 in
    --data) [ $# -ge 2 ] || usage; data=$2; shift 2 ;;
    --only) [ $# -ge 2 ] || usage; only=$2; shift 2 ;;
    *) usage ;;
  esac
done
[ -n "$data" ] || usage

# A zombie waiting for its new parent to reap it counts as gone.
alive() { local st; st=$(ps -o stat= -p "$1" 2>/dev/null) && [[ $st != Z* ]]; }

# Each server is the leader of its own process group (setsid), so the group holds its workers.
for name in ${only:-web ftp}; do
  pidfile=$data/$name.pid
  pid=$(cat "$pidfile" 2>/dev/null) || continue
  if alive "$pid"; then
    kill -TERM -- "-$pid" 2>/dev/null || true
    for _ in $(seq 50); do alive "$pid" || break; sleep 0.1; done
    kill -KILL -- "-$pid" 2>/dev/null || true
  fi
  rm -f "$pidfile" "$data/$name.settings"
done
