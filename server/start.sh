#!/usr/bin/env bash
# Starts the game's web server (ADDR:80) and FTP server (ADDR:21) in the background and waits
# until both accept connections. A server already running with the same settings is left alone.
# Default: PHP's built-in web server, for trying it out and for tests (127.x only).
# --production: nginx and PHP-FPM with the site and pool of server/deploy/ (any IPv4 address);
# run as root, the workers run as the unprivileged user skv, which owns the data folder; root keeps
# its own files (configuration, records, the logs its processes write) in DATA.root.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
usage() {
  echo "usage: $0 --addr ADDR --data DIR [--doubles] [--production [--rate N] [--burst N] [--workers N]" >&2
  echo "       [--page-rate N] [--page-burst N] [--conns N] [--tls CERT KEY] [--acme DIR]]" >&2
  exit 2
}

addr='' data='' doubles=0 production=0 rate=5 burst=20 workers=8 page_rate=10 page_burst=40 conns=16
tls_cert='' tls_key='' acme=/var/www/skv-acme
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
    # Not resolved: certbot's live/ links move to each renewed certificate.
    --tls) [ $# -ge 3 ] || usage; tls_cert=$(realpath -s "$2"); tls_key=$(realpath -s "$3"); shift 3 ;;
    --acme) [ $# -ge 2 ] || usage; acme=$2; shift 2 ;;
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
. "$here/lib/records.sh"
refuse() { echo "$1" >&2; exit 1; }

# only_root_writes DIR [sticky]: a real folder of root's that nobody else can change (with sticky,
# also one where others may add entries but not rename or remove root's, like /tmp).
only_root_writes() {
  [ ! -L "$1" ] && [ -d "$1" ] && [ "$(stat -c %u "$1")" = 0 ] &&
    { [ $((0$(stat -c %a "$1") & 022)) = 0 ] || { [ "${2:-}" = sticky ] && [ -k "$1" ]; }; }
}

# A data folder that is still root's (new, or made by the operator) goes to skv with what root put
# into it. Only root can have written below it: nobody may enter it meanwhile (0700), folders that
# are not root's alone are left out, and so are files linked from elsewhere too. The folder itself
# goes last.
hand_over() {
  chmod 700 "$data"
  find "$data" -xdev -mindepth 1 \( -type d \( ! -user root -o -perm /022 \) -prune \) -o \
    ! -user skv \( -type d -o -links 1 \) -print0 | xargs -0r chown -h skv:skv
  chown skv:skv "$data"
}

# --- Least privilege. Run as root, production's workers and the FTP server run as skv, which owns
# the data folder; root creates, binds and starts, and never reads, follows or changes a path that
# skv can write. Otherwise everything runs as the caller. ---
run_user=$(id -un)
if [ "$(id -u)" = 0 ]; then
  (umask 066 && mkdir -p "$(dirname "$data")")  # skv passes through to its folder
  parent=$(cd "$(dirname "$data")" && pwd -P)
  data=$parent/$(basename "$data")
  [ -e "$data" ] || install -d -m 0700 "$data"
  owner=$(stat -c %U "$data")
  if [ $production = 1 ]; then
    run_user=skv
    id -u skv >/dev/null 2>&1 || useradd --system --user-group --no-create-home --home-dir /nonexistent \
      --shell /usr/sbin/nologin skv
    # Whoever may change DATA's parent could put another folder, or a link, in DATA's place.
    only_root_writes "$parent" sticky || refuse "$parent must be root's, and writable by root alone"
    case $owner in
      skv) ;;
      root) "$here/stop.sh" --data "$data"; hand_over ;;  # first what root's records there name
      *) refuse "$data belongs to $owner: give the servers a folder of root's or of skv" ;;
    esac
  else
    [ "$owner" = root ] || refuse "$data belongs to $owner: start it with --production, or as $owner"
    chmod 700 "$data"
  fi
else
  mkdir -p "$data"
  chmod 700 "$data"
  data=$(cd "$data" && pwd)
fi
records=$(records_folder "$data")
if [ "$records" != "$data" ]; then
  [ -e "$records" ] || install -d -m 0711 "$records"  # skv passes through to the PHP-FPM socket
  only_root_writes "$records" || refuse "$records must be a folder that only root can write"
fi
# Root's nginx reads the certificate and its key, and root's certbot writes into the webroot: none
# may lie where skv could put a link in their place.
if [ $production = 1 ] && [ "$(id -u)" = 0 ]; then
  for f in ${tls_cert:+"$tls_cert" "$tls_key"}; do
    only_root_writes "$(dirname "$f")" && only_root_writes "$(dirname "$(realpath "$f")")" ||
      refuse "$f must lie in a folder that only root can write"
  done
  [ ! -e "$acme" ] || only_root_writes "$(realpath "$acme")" || refuse "$acme must be a folder that only root can write"
fi
run=$records/run
# skv's workers pass through to the socket and their temporary files; root's own files stay 0600.
install -d -m "$([ "$records" = "$data" ] && echo 0700 || echo 0711)" "$run" "$run/tmp"
# Every server started here holds this lock while it runs; the admin tool, as the data folder's
# owner, takes it alone for a restore or a migration (lib/backup.php), which no server may see.
lock=$records/servers.lock
[ -e "$lock" ] || (umask 022 && : > "$lock")

# The settings in force, server.ini over the defaults: admin.php is their one reader (as the data
# folder's owner), and it refuses a server.ini it cannot read as meant.
listed=$(php "$here/admin.php" --data "$data" settings) || exit 2
declare -A setting=()
while IFS='=' read -r key value; do setting[$key]=$value; done <<<"$listed"
# Behind balancers, and the operator's numbers: off the public address, loopback unless named.
# Texts of skv's server.ini that reach root's configuration: addresses and a port only, and no port
# that only root may bind.
balancers=${setting[balancers]} metrics=${setting[metrics_address]}
[[ -n $metrics ]] || { [[ $addr == 127.* ]] && metrics=$addr:9180 || metrics=127.0.0.1:9180; }
ipv4='[0-9]{1,3}(\.[0-9]{1,3}){3}'
[[ -z $balancers || $balancers =~ ^$ipv4(/[0-9]{1,2})?(,$ipv4(/[0-9]{1,2})?)*$ ]] ||
  { echo "server.ini: balancers must be IPv4 addresses or networks separated by commas" >&2; exit 2; }
[[ $metrics =~ ^$ipv4:[0-9]{4,5}$ ]] && ((${metrics##*:} >= 1024 && ${metrics##*:} <= 65535)) ||
  { echo "server.ini: metrics_address must be ADDRESS:PORT, the port 1024 to 65535" >&2; exit 2; }

running() {
  local pid when
  read -r pid when 2>/dev/null < "$records/$1.pid" || return 1
  ours "$pid" "$when"
}
accepting() { timeout 1 bash -c "exec 3<>/dev/tcp/$addr/$1" 2>/dev/null; }

# start NAME SETTINGS PORT COMMAND...: (re)starts one server in its own process group; PORT 0
# for PHP-FPM (ready when its socket is), - for a process that serves nothing.
start() {
  local name=$1 settings=$2 port=$3; shift 3
  if running "$name"; then
    [ "$(cat "$records/$name.settings" 2>/dev/null)" = "$settings" ] && return 0
    "$here/stop.sh" --data "$data" --only "$name"
  fi
  if [[ $port =~ ^[1-9] ]] && accepting "$port"; then
    echo "$addr:$port already answers: another server runs there; stop it or choose another address" >&2
    exit 1
  fi
  echo "$settings" > "$records/$name.settings"
  [ "$port" != 0 ] || rm -f "$run/php-fpm.sock"
  ( flock -sn 9 || { echo "the admin tool is restoring or migrating $data; start again once it is done"; exit 1; }
    exec setsid "$@" ) 9<"$lock" </dev/null >>"$records/$name.log" 2>&1 &
  local pid=$!
  echo "$pid $(started_at $pid)" > "$records/$name.pid"
  for _ in $(seq 100); do
    if [ "$port" = - ]; then running "$name" && return 0
    elif [ "$port" = 0 ]; then [ -S "$run/php-fpm.sock" ] && return 0
    else accepting "$port" && return 0; fi
    running "$name" || break
    sleep 0.1
  done
  echo "$name server did not come up on $addr:$port; see $records/$name.log:" >&2
  tail -n 5 "$records/$name.log" >&2
  exit 1
}

# fill TEMPLATE: a deploy file with the @...@ values of this data folder; @KEY@ of a numeric
# setting in lower case is its value.
fill() {
  local nginx_user='# not root: nginx runs as its starter' key values=()
  [ "$(id -u)" != 0 ] || nginx_user="user $run_user $run_user;"
  for key in "${!setting[@]}"; do
    # Numbers only: a text of the servers' own server.ini never reaches root's configuration.
    if [[ ${setting[$key]} =~ ^[0-9]+$ ]]; then values+=(-e "s|@$key@|${setting[$key]}|g"); fi
  done
  sed "${values[@]}" -e "s|@ADDR@|$addr|g" -e "s|@SERVER@|$here|g" -e "s|@DATA@|$data|g" -e "s|@LOGS@|$records|g" \
      -e "s|@RUN@|$run|g" -e "s|@NGINXUSER@|$nginx_user|g" \
      -e "s|@FPM@|$run/php-fpm.sock|g" -e "s|@RATE@|$rate|g" -e "s|@BURST@|$burst|g" \
      -e "s|@PAGERATE@|$page_rate|g" -e "s|@PAGEBURST@|$page_burst|g" -e "s|@CONNS@|$conns|g" \
      -e "s|@PIDS@|$run/nginx.pid $run/php-fpm.pid|g" -e "s|@MAXSIZE@|${setting[log_max_bytes]}|g" \
      -e "s|@TLS@|$run/tls.conf|g" -e "s|@CERT@|$tls_cert|g" -e "s|@KEY@|$tls_key|g" -e "s|@ACME@|$acme|g" \
      -e "s|@PROXYPROTOCOL@|${balancers:+proxy_protocol}|g" -e "s|@METRICS@|$metrics|g" \
      -e "s|@REALIPFROM@|$(for b in ${balancers//,/ }; do printf 'set_real_ip_from %s; ' "$b"; done)|g" \
      -e "s|@WORKERS@|$workers|g" -e "s|@DOUBLES@|$doubles|g" -e "s|@RUNUSER@|$run_user|g" \
      -e "s|@RUNGROUP@|$(id -gn "$run_user")|g" -e "s|@WEBUSER@|$run_user|g" \
      "$here/deploy/$1"
}

# nginx and PHP-FPM run from configuration files in the records' run/ made from server/deploy/.
start_production() {
  local fpm
  fpm=$(ls /usr/sbin/php-fpm* 2>/dev/null | sort -V | tail -n 1)
  [ -x /usr/sbin/nginx ] && [ -n "$fpm" ] || { echo "production mode needs Debian's nginx and php-fpm" >&2; exit 1; }
  # The site includes fastcgi_params relative to the configuration folder.
  cp "$here/deploy/fastcgi_params" "$run/fastcgi_params"
  fill nginx-site.conf > "$run/site.conf"
  # HTTPS only with a certificate; the site includes the file either way.
  if [ -n "$tls_cert" ]; then fill nginx-tls.conf > "$run/tls.conf"; else : > "$run/tls.conf"; fi
  { echo "[global]"; echo "pid = $run/php-fpm.pid"; echo "error_log = $records/fpm.log"; echo "daemonize = no"
    fill php-fpm-pool.conf; } > "$run/php-fpm.conf"
  fill nginx-metrics.conf > "$run/metrics.conf"
  # nginx's master writes the metrics log among root's files; /metrics reads it as the run user,
  # through its group (deploy/logrotate makes each new one so).
  [ -e "$records/metrics.log" ] || install -m 0640 -g "$(id -gn "$run_user")" /dev/null "$records/metrics.log"
  fill nginx-main.conf > "$run/nginx.conf"
  local settings="$addr doubles=$doubles rate=$rate burst=$burst workers=$workers pages=$page_rate/$page_burst"
  settings+=" conns=$conns user=$run_user tls=$tls_cert acme=$acme balancers=$balancers metrics=$metrics"
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
fill logrotate > "$run/logrotate.conf"
interval=$((setting[log_check_interval] > 0 ? setting[log_check_interval] : 1))
start logs "$interval $run_user" - bash -c \
  'while :; do /usr/sbin/logrotate -s "$0/logrotate.state" "$0/logrotate.conf"; sleep "$1"; done' "$run" "$interval"
echo "web http://$addr/ and ftp://$addr/ running, data in $data"
