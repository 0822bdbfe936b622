#!/usr/bin/env bash
# Stops the web and FTP servers that start.sh started for DIR.
set -euo pipefail
usage() { echo "usage: $0 --data DIR [--only web|ftp|fpm|logs]" >&2; exit 2; }
data='' only=''
while [ $# -gt 0 ]; do
  case $1 in
    --data) [ $# -ge 2 ] || usage; data=$2; shift 2 ;;
    --only) [ $# -ge 2 ] || usage; only=$2; shift 2 ;;
    *) usage ;;
  esac
done
[ -n "$data" ] || usage

started_at() { awk '{print $22}' "/proc/$1/stat" 2>/dev/null; }
# Ours only while it started when start.sh wrote down; a zombie waiting to be reaped counts as gone.
ours() { local st; [ -n "$2" ] && [ "$(started_at "$1")" = "$2" ] && st=$(ps -o stat= -p "$1" 2>/dev/null) && [[ $st != Z* ]]; }

# Each server is the leader of its own process group (setsid), so the group holds its workers.
for name in ${only:-web fpm ftp logs}; do
  pidfile=$data/$name.pid
  read -r pid when 2>/dev/null < "$pidfile" || continue
  if ours "$pid" "${when:-}"; then
    kill -TERM -- "-$pid" 2>/dev/null || true
    for _ in $(seq 50); do ours "$pid" "$when" || break; sleep 0.1; done
    ours "$pid" "$when" && kill -KILL -- "-$pid" 2>/dev/null || true
  elif [ -e "/proc/$pid" ]; then
    echo "$name: pid $pid is no longer the server started for $data; left alone" >&2
  fi
  rm -f "$pidfile" "$data/$name.settings"
done
