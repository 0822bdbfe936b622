#!/usr/bin/env bash
# Starts the game's web server (ADDR:80) and FTP server (ADDR:21) in the background and waits
# until both accept connections. A server already running with the same settings is left alone.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
usage() { echo "usage: $0 --addr 127.0.0.X --data DIR [--doubles]" >&2; exit 2; }

addr='' data='' doubles=0
while [ $# -gt 0 ]; do
  case $1 in
    --addr) [ $# -ge 2 ] || usage; addr=$2; shift 2 ;;
    --data) [ $# -ge 2 ] || usage; data=$2; shift 2 ;;
    --doubles) doubles=1; shift ;;
    *) usage ;;
  esac
done
[ -n "$data" ] || usage
[[ $addr =~ ^127\.[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,3}$ ]] || { echo "--addr must be a 127.x.x.x address" >&2; exit 2; }
mkdir -p "$data/planes"
data=$(cd "$data" && pwd)

# A zombie waiting to be reaped does not count as running.
running() { local pid st; pid=$(cat "$data/$1.pid" 2>/dev/null) && st=$(ps -o stat= -p "$pid" 2>/dev/null) && [[ $st != Z* ]]; }
accepting() { timeout 1 bash -c "exec 3<>/dev/tcp/$addr/$1" 2>/dev/null; }

# start NAME SETTINGS PORT COMMAND...: (re)starts one server in its own process group.
start() {
  local name=$1 settings=$2 port=$3; shift 3
  if running "$name"; then
    [ "$(cat "$data/$name.settings" 2>/dev/null)" = "$settings" ] && return 0
    "$here/stop.sh" --data "$data" --only "$name"
  fi
  echo "$settings" > "$data/$name.settings"
  setsid "$@" </dev/null >>"$data/$name.log" 2>&1 &
  echo $! > "$data/$name.pid"
  for _ in $(seq 100); do
    accepting "$port" && return 0
    running "$name" || break
    sleep 0.1
  done
  echo "$name server did not come up on $addr:$port; see $data/$name.log:" >&2
  tail -n 5 "$data/$name.log" >&2
  exit 1
}

export SKV_DATA=$data
php "$here/admin.php" --data "$data" init
SKV_DOUBLES=$doubles PHP_CLI_SERVER_WORKERS=8 \
  start web "$addr doubles=$doubles" 80 \
  php -d display_errors=0 -d log_errors=1 -d expose_php=0 -d opcache.enable_cli=1 -S "$addr:80" -t "$here/www" "$here/lib/router.php"
start ftp "$addr" 21 /usr/bin/python3 "$here/ftp/ftpd.py" --addr "$addr" --root "$data/planes" --log "$data/ftp.log"
echo "web http://$addr/ and ftp://$addr/ running, data in $data"
