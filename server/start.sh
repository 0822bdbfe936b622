#!/usr/bin/env bash
# Starts the game's web server (ADDR:80) and FTP server (ADDR:21) in the background and waits
# until both accept connections. A server already running with the same settings is left alone.
# Default: PHP's built-in web server, for trying it out and for tests (127.x only).
# --production: nginx and PHP-FPM with the site and pool of server/deploy/ (any IPv4 address);
# run as root, the servers' workers run as the unprivileged user skv, which owns the data folder.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
usage() {
  echo "usage: $0 --addr ADDR --data DIR [--doubles] [--production [--rate N] [--burst N] [--workers N]" >&2
  echo "       [--page-rate N] [--page-burst N] [--conns N]]" >&2
  exit 2
}

addr='' data='' doubles=0 production=0 rate=5 burst=20 workers=8 page_rate=10 page_burst=40 conns=16
while [ $# -gt 0 ]; do
  case $1 in
    --addr) [ $# -ge 2 ] || usage; addr=$2; shift 2 ;;
    --data) [ $# -ge 2 ] || usage; data=$2; shift 2 ;;
    --doubles) doubles=1; shift ;;
    --production) production=1; shift ;;
    --rate) [ $# -ge 2 ] || usage; rate=$2; shift 2 ;;
    --burst) [ $# -ge 2 ] || usage; burst=$2; shift 2 ;;
    --workers) [ $# -ge 2 ] || usage; workers=$2; shift 2 ;;
    --page-rate) [ $# -ge 2 ] || usage; page_rate=$2; shift 2 ;;
    --page-burst) [ $# -ge 2 ] || usage; page_burst=$2; shift 2 ;;
    --conns) [ $# -ge 2 ] || usage; conns=$2; shift 2 ;;
    *) usage ;;
  esac
done
[ -n "$data" ] || usage
if [ $production = 1 ]; then
  [[ $addr =~ ^[0-9]{1,3}(\.[0-9]{1,3}){3}$ ]] || { echo "--addr must be an IPv4 address" >&2; exit 2; }
  [[ $rate$burst$workers$page_rate$page_burst$conns =~ ^[0-9]+$ ]] || usage
else
  [[ $addr =~ ^127\.[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,3}$ ]] || { echo "--addr must be a 127.x.x.x address" >&2; exit 2; }
fi
# Mail addresses and the database password live here: owner only, for every file made below.
umask 077
mkdir -p "$data"
chmod 700 "$data"
data=$(cd "$data" && pwd)
# The settings in force, server.ini over the defaults: admin.php is their one reader, and it
# refuses a server.ini it cannot read as meant.
listed=$(php "$here/admin.php" --data "$data" settings) || exit 2
declare -A setting=()
while IFS='=' read -r key value; do setting[$key]=$value; done <<<"$listed"
# Behind balancers, and the operator's numbers: off the public address, loopback unless named.
balancers=${setting[balancers]} metrics=${setting[metrics_address]}
[[ -n $metrics ]] || { [[ $addr == 127.* ]] && metrics=$addr:9180 || metrics=127.0.0.1:9180; }
ipv4='[0-9]{1,3}(\.[0-9]{1,3}){3}'
[[ -z $balancers || $balancers =~ ^$ipv4(/[0-9]{1,2})?(,$ipv4(/[0-9]{1,2})?)*$ ]] ||
  { echo "server.ini: balancers must be IPv4 addresses or networks separated by commas" >&2; exit 2; }
[[ $metrics =~ ^$ipv4:[0-9]+$ ]] || { echo "server.ini: metrics_address must be ADDRESS:PORT" >&2; exit 2; }

# The pid file holds the pid and the process's start time, so a reused pid is not taken for ours.
started_at() { awk '{print $22}' "/proc/$1/stat" 2>/dev/null; }
running() {
  local pid when st
  read -r pid when 2>/dev/null < "$data/$1.pid" || return 1
  [ -n "$when" ] && [ "$(started_at "$pid")" = "$when" ] || return 1
  st=$(ps -o stat= -p "$pid" 2>/dev/null) && [[ $st != Z* ]]  # a zombie does not count
}
accepting() { timeout 1 bash -c "exec 3<>/dev/tcp/$addr/$1" 2>/dev/null; }

# start NAME SETTINGS PORT COMMAND...: (re)starts one server in its own process group; PORT 0
# for PHP-FPM (ready when its socket is), - for a process that serves nothing.
start() {
  local name=$1 settings=$2 port=$3; shift 3
  if running "$name"; then
    [ "$(cat "$data/$name.settings" 2>/dev/null)" = "$settings" ] && return 0
    "$here/stop.sh" --data "$data" --only "$name"
  fi
  if [[ $port =~ ^[1-9] ]] && accepting "$port"; then
    echo "$addr:$port already answers: another server runs there; stop it or choose another address" >&2
    exit 1
  fi
  echo "$settings" > "$data/$name.settings"
  [ "$port" != 0 ] || rm -f "$data/run/php-fpm.sock"
  setsid "$@" </dev/null >>"$data/$name.log" 2>&1 &
  local pid=$!
  echo "$pid $(started_at $pid)" > "$data/$name.pid"
  for _ in $(seq 100); do
    if [ "$port" = - ]; then running "$name" && return 0
    elif [ "$port" = 0 ]; then [ -S "$data/run/php-fpm.sock" ] && return 0
    else accepting "$port" && return 0; fi
    running "$name" || break
    sleep 0.1
  done
  echo "$name server did not come up on $addr:$port; see $data/$name.log:" >&2
  tail -n 5 "$data/$name.log" >&2
  exit 1
}

# --- Least privilege: run as root, production's workers and the FTP server run as skv, which
# owns the data folder and the storage; otherwise everything runs as the caller. ---
run_user=$(id -un)
if [ $production = 1 ] && [ "$(id -u)" = 0 ]; then
  run_user=skv
  id -u skv >/dev/null 2>&1 || useradd --system --user-group --no-create-home --home-dir /nonexistent \
    --shell /usr/sbin/nologin skv
fi
storage=${setting[storage]}  # empty: DATA itself
own() { [ -z "$1" ] || find "$1" ! -user "$run_user" -exec chown -h "$run_user:$run_user" {} +; }
mkdir -p "$data/run"
[ "$run_user" = "$(id -un)" ] || { own "$data"; own "$storage"; }
# Opened by root (the masters, the redirections below), written and rotated as the run user's.
for log in requests.log metrics.log nginx-error.log fpm.log php-errors.log web.log ftp.log logs.log; do
  [ -e "$data/$log" ] || install -m 0600 -o "$run_user" -g "$run_user" /dev/null "$data/$log"
done

# fill TEMPLATE: a deploy file with the @...@ values of this data folder; @KEY@ of a setting in
# lower case is its value.
fill() {
  local nginx_user='# not root: nginx runs as its starter' key value values=()
  [ "$(id -u)" != 0 ] || nginx_user="user $run_user $run_user;"
  for key in "${!setting[@]}"; do  # sed takes \, & and | in a replacement as its own
    value=${setting[$key]//\\/\\\\}; value=${value//&/\\&}
    values+=(-e "s|@$key@|${value//|/\\|}|g")
  done
  sed "${values[@]}" -e "s|@ADDR@|$addr|g" -e "s|@SERVER@|$here|g" -e "s|@DATA@|$data|g" -e "s|@LOGS@|$data|g" \
      -e "s|@RUN@|$data/run|g" -e "s|@NGINXUSER@|$nginx_user|g" \
      -e "s|@FPM@|$data/run/php-fpm.sock|g" -e "s|@RATE@|$rate|g" -e "s|@BURST@|$burst|g" \
      -e "s|@PAGERATE@|$page_rate|g" -e "s|@PAGEBURST@|$page_burst|g" -e "s|@CONNS@|$conns|g" \
      -e "s|@NGINXPID@|$data/run/nginx.pid|g" -e "s|@FPMPID@|$data/run/php-fpm.pid|g" \
      -e "s|@MAXSIZE@|${setting[log_max_bytes]}|g" \
      -e "s|@PROXYPROTOCOL@|${balancers:+proxy_protocol}|g" -e "s|@METRICS@|$metrics|g" \
      -e "s|@REALIPFROM@|$(for b in ${balancers//,/ }; do printf 'set_real_ip_from %s; ' "$b"; done)|g" \
      -e "s|@WORKERS@|$workers|g" -e "s|@DOUBLES@|$doubles|g" -e "s|@RUNUSER@|$run_user|g" -e "s|@WEBUSER@|$run_user|g" \
      "$here/deploy/$1"
}

# nginx and PHP-FPM run from configuration files in DATA/run made from server/deploy/.
start_production() {
  local run=$data/run fpm
  fpm=$(ls /usr/sbin/php-fpm* 2>/dev/null | sort -V | tail -n 1)
  [ -x /usr/sbin/nginx ] && [ -n "$fpm" ] || { echo "production mode needs Debian's nginx and php-fpm" >&2; exit 1; }
  install -d -m 0700 -o "$run_user" -g "$run_user" "$run/tmp"  # the workers' temporary files
  # The site includes fastcgi_params relative to the configuration folder.
  cp "$here/deploy/fastcgi_params" "$run/fastcgi_params"
  fill nginx-site.conf > "$run/site.conf"
  { echo "[global]"; echo "pid = $run/php-fpm.pid"; echo "error_log = $data/fpm.log"; echo "daemonize = no"
    fill php-fpm-pool.conf; } > "$run/php-fpm.conf"
  fill nginx-metrics.conf > "$run/metrics.conf"
  fill nginx-main.conf > "$run/nginx.conf"
  local settings="$addr doubles=$doubles rate=$rate burst=$burst workers=$workers pages=$page_rate/$page_burst"
  settings+=" conns=$conns user=$run_user balancers=$balancers metrics=$metrics"
  start fpm "$settings" 0 "$fpm" -F -y "$run/php-fpm.conf" $([ "$run_user" = root ] && echo -R)
  start web "nginx $settings" 80 /usr/sbin/nginx -c "$run/nginx.conf"
}

export SKV_DATA=$data
php "$here/admin.php" --data "$data" init
if [ $production = 1 ]; then
  start_production
else
  if running fpm; then "$here/stop.sh" --data "$data" --only fpm; fi
  SKV_DOUBLES=$doubles PHP_CLI_SERVER_WORKERS=8 \
    start web "$addr doubles=$doubles" 80 \
    php -d display_errors=0 -d log_errors=1 -d expose_php=0 -d opcache.enable_cli=1 -d apc.enable_cli=1 -S "$addr:80" -t "$here/www" "$here/lib/router.php"
fi
# The FTP server binds port 21 as the caller and then runs as the run user.
start ftp "$addr $run_user $balancers" 21 /usr/bin/python3 "$here/ftp/ftpd.py" --addr "$addr" --data "$data" --log "$data/ftp.log" \
  $([ "$run_user" = "$(id -un)" ] || echo --user "$run_user")
# Log rotation in both modes: deploy/logrotate filled for DATA, every log_check_interval seconds.
fill logrotate > "$data/run/logrotate.conf"
start logs "${setting[log_check_interval]} $run_user" - bash -c \
  'while :; do /usr/sbin/logrotate -s "$0/logrotate.state" "$0/logrotate.conf"; sleep "$1"; done' \
  "$data/run" "${setting[log_check_interval]}"
echo "web http://$addr/ and ftp://$addr/ running, data in $data"
