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
. "$(dirname "$0")/lib/records.sh"
# Only the records start.sh keeps where the servers' user cannot write name what is killed.
records=$(records_folder "$data")

# Each server is the leader of its own process group (setsid), so the group holds its workers.
for name in ${only:-web fpm ftp logs}; do
  pidfile=$records/$name.pid
  read -r pid when 2>/dev/null < "$pidfile" || continue
  if ours "$pid" "${when:-}"; then
    kill -TERM -- "-$pid" 2>/dev/null || true
    for _ in $(seq 50); do ours "$pid" "$when" || break; sleep 0.1; done
    ours "$pid" "$when" && kill -KILL -- "-$pid" 2>/dev/null || true
  elif [ -e "/proc/$pid" ]; then
    echo "$name: pid $pid is no longer the server started for $data; left alone" >&2
  fi
  rm -f "$pidfile" "$records/$name.settings"
done
