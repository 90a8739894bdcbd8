#!/usr/bin/env bash
# make bench: Zorvane against the servers its users would otherwise pick,
# measured in one run on this machine over loopback.
#
# Builds an optimised zorvane_cmd (build-bench), writes a document folder and
# the peers' configurations into a temporary folder, starts
#   zorvane        zorvane_cmd, 15 workers, in-process PHP, CGI through /bin/sh
#   nginx-1w       nginx, worker_processes 1 (static files)
#   nginx-auto     nginx, worker_processes auto (static files), and on a port of
#                  its own a usual PHP site (index index.php, try_files)
#   nginx-nosf     nginx-auto with sendfile off (over loopback it may beat
#                  sendfile on large files; the 1 MiB target takes the better)
#   php-fpm        16 static children behind that PHP site (unix socket)
#   lighttpd       lighttpd, one process (static files; CGI through mod_cgi)
#   php-S-8w       php -S with PHP_CLI_SERVER_WORKERS=8 (static files and PHP)
# on 127.0.0.1 high ports, measures with wrk (every request on its own
# connection: "Connection: close"), prints one table and appends it to
# bench/results/<date>.md. The slow1k and slowphp tests measure while
# bench/slowclients.py holds 20 hostile connections to the server under test.
# Every process it started is stopped by its id.
#
# Environment:
#   BENCH_DURATION  seconds per wrk run (default 5)
#   BENCH_ROUNDS    rounds, each running every server once in turn; a server's best run counts (default 1)
#   BENCH_THREADS / BENCH_CONNECTIONS  wrk -t / -c (default 4 / 32)
#   BENCH_PORT_BASE first of 7 consecutive ports (default 28180)
#   BENCH_BUILD     build folder (default <tree>/build-bench)
#   BENCH_NO_BUILD=1  use the build folder as it is
#   BENCH_LABEL     a word for the heading of the results section
#   BENCH_ONLY      space-separated test names to run
#                   (static1k static1m php phpdir phpcl sleep cgi slow1k slowphp)
#   BENCH_KEEP=1    keep the temporary folder
#   BENCH_BASELINE  a folder holding an earlier zorvane_cmd (and its shared libraries):
#                   measured in the same run as "zorvane-before", for before and after
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${BENCH_BUILD:-$ROOT/build-bench}"
DURATION="${BENCH_DURATION:-5}"
ROUNDS="${BENCH_ROUNDS:-1}"
WRK_THREADS="${BENCH_THREADS:-4}"
WRK_CONNS="${BENCH_CONNECTIONS:-32}"
# wrk refuses more threads than connections (and measures nothing).
if (( WRK_THREADS > WRK_CONNS )); then WRK_THREADS=$WRK_CONNS; fi
PORT_BASE="${BENCH_PORT_BASE:-28180}"
ONLY="${BENCH_ONLY:-static1k static1m php phpdir phpcl sleep cgi slow1k slowphp}"
LABEL="${BENCH_LABEL:-}"
BUILD_JOBS=4   # the machine is shared
# Targets: Zorvane's req/s at least this many times the peer's.
TARGET_1K=1.2       # 1 KiB static, nginx with all workers
TARGET_1M=1.0       # 1 MiB static, nginx with all workers
TARGET_PHP=1.5      # hello.php (either kind), nginx + php-fpm
TARGET_PHPDIR=0.9   # the page through its folder, Zorvane's own hello.php

say() { echo "bench: $*" >&2; }
die() { echo "bench: FAILED: $*" >&2; exit 1; }
wants() { [[ " $ONLY " == *" $1 "* ]]; }

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

# ---------------------------------------------------------------------------
# 1. Peers and the load generator (not needed by the tests, so installed here)
need=()
command -v nginx >/dev/null 2>&1 || [ -x /usr/sbin/nginx ] || need+=(nginx-light)
command -v lighttpd >/dev/null 2>&1 || [ -x /usr/sbin/lighttpd ] || need+=(lighttpd)
command -v php8.2 >/dev/null 2>&1 || need+=(php8.2-cli)
[ -x /usr/sbin/php-fpm8.2 ] || need+=(php8.2-fpm)
command -v wrk >/dev/null 2>&1 || need+=(wrk)
command -v curl >/dev/null 2>&1 || need+=(curl)
command -v python3 >/dev/null 2>&1 || need+=(python3)
if [ ${#need[@]} -gt 0 ]; then
  say "installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
PATH="$PATH:/usr/sbin:/sbin"
NGINX="$(command -v nginx)"
LIGHTTPD="$(command -v lighttpd)"
PHP="$(command -v php8.2 || command -v php)"
FPM=/usr/sbin/php-fpm8.2
PYTHON="$(command -v python3)"

# ---------------------------------------------------------------------------
# 2. An optimised build of zorvane_cmd. -O2 rather than CMake's -O3: GCC 12
#    raises a false -Wrestrict under -O3 inside libstdc++, and -Werror is on.
if [ "${BENCH_NO_BUILD:-0}" != 1 ]; then
  say "building zorvane_cmd (Release) in $BUILD"
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG" >/dev/null
  cmake --build "$BUILD" --target zorvane_cmd -j "$BUILD_JOBS" >/dev/null || die "build of zorvane_cmd"
fi
ZORVANE="$BUILD/bin/zorvane_cmd"
[ -x "$ZORVANE" ] || die "$ZORVANE is missing"

# ---------------------------------------------------------------------------
# 3. Process bookkeeping: everything started is stopped by its id on exit.
PIDS=()
declare -A SPID
TMP=""
children_of() { pgrep -P "$1" 2>/dev/null || true; }
stop_pid() {
  local pid=$1 kids k i
  kill -0 "$pid" 2>/dev/null || return 0
  kids="$(children_of "$pid")"
  kill -TERM "$pid" 2>/dev/null || true
  for i in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null || true
  # Workers of a master that went without them (php -S workers, nginx, fpm).
  for k in $kids; do
    kill -0 "$k" 2>/dev/null && kill -TERM "$k" 2>/dev/null || true
  done
  wait "$pid" 2>/dev/null || true
}
cleanup() {
  local rc=$? p
  for p in "${PIDS[@]}"; do stop_pid "$p"; done
  if [ -n "${SLOW_PID:-}" ]; then stop_pid "$SLOW_PID"; fi
  if [ -n "$TMP" ] && [ -d "$TMP" ]; then
    if [ "${BENCH_KEEP:-0}" = 1 ]; then say "kept $TMP"; else rm -rf "$TMP"; fi
  fi
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

port_free() { ! ss -Hltn "sport = :$1" 2>/dev/null | grep -q .; }
P_ZORVANE=$PORT_BASE
P_NGINX1=$((PORT_BASE + 1))
P_NGINXA=$((PORT_BASE + 2))
P_LIGHTTPD=$((PORT_BASE + 3))
P_PHPS=$((PORT_BASE + 4))
P_BEFORE=$((PORT_BASE + 5))
P_FPMSITE=$((PORT_BASE + 6))
P_NGINXNS=$((PORT_BASE + 7))
BASELINE="${BENCH_BASELINE:-}"
if [ -n "$BASELINE" ]; then
  [ -x "$BASELINE/zorvane_cmd" ] || die "BENCH_BASELINE: no zorvane_cmd in $BASELINE"
  BASELINE="$(cd "$BASELINE" && pwd)"
fi
for p in $P_ZORVANE $P_NGINX1 $P_NGINXA $P_LIGHTTPD $P_PHPS $P_BEFORE $P_FPMSITE $P_NGINXNS; do
  port_free "$p" || die "port $p is in use (set BENCH_PORT_BASE)"
done

TMP="$(mktemp -d /tmp/zorvane-bench.XXXXXX)"
chmod 755 "$TMP"   # nginx and php-fpm workers may run as another user
DOCS="$TMP/docs"
mkdir -p "$DOCS"
head -c 1024 /dev/urandom >"$DOCS/1k.bin"
head -c 1048576 /dev/urandom >"$DOCS/1m.bin"
printf '<?php echo "Hello World";\n' >"$DOCS/hello.php"
printf '<?php echo function_exists("opcache_get_status") && is_array(@opcache_get_status(false)) ? "on" : "off";\n' >"$DOCS/opcache.php"
printf '<?php sleep(1); echo "slept";\n' >"$DOCS/sleep.php"
# The same page with a Content-Length, so that no server's answer ends with
# the connection (see the note on wrk's second connection in the results).
printf '<?php header("Content-Length: 11"); echo "Hello World";\n' >"$DOCS/hello-cl.php"
# The same page as the folder's index, asked for as /?p=1: "Hello World" only
# when the query reached it.
printf '<?php echo "Hello World"; if (($_GET["p"] ?? "") !== "1") echo " without its query";\n' >"$DOCS/index.php"
# For the slow clients: a script that takes a form, a page larger than the
# socket buffers.
printf '<?php echo count($_POST);\n' >"$DOCS/upload.php"
printf '<?php echo str_repeat("0123456789abcdef", 262144);\n' >"$DOCS/big.php"
printf 'echo "Content-Type: text/plain"\necho\necho "Hello World"\n' >"$DOCS/hello.sh"
chmod -R a+rX "$DOCS"

# Waits until the server answers url with 200 (bounded), false otherwise.
wait_ready() {
  local url=$1 pid=$2 i
  for i in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || return 1
    if [ "$(curl -s -o /dev/null -w '%{http_code}' --max-time 2 -H 'Connection: close' "$url" || true)" = 200 ]; then
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# ---------------------------------------------------------------------------
# 4. The servers
# start_zorvane <name> <program> <port> [library folder]; sets STARTED_PID
start_zorvane() {
  local name=$1 exe=$2 port=$3 libdir=${4:-} dir="$TMP/$1"
  mkdir -p "$dir/cfg"
  printf 'httpHost=127.0.0.1\r\nhttpPort=%s\r\ndocPath=%s\r\n' "$port" "$DOCS" >"$dir/cfg/init.txt"
  cp "$ROOT/cfg/mime.txt" "$dir/cfg/mime.txt"
  [ -f "$ROOT/cfg/php.ini" ] && cp "$ROOT/cfg/php.ini" "$dir/cfg/php.ini"
  : >"$dir/cfg/vdir.txt"
  printf '.php;PHPBuildIn\n.sh;/bin/sh\n' >"$dir/cfg/cgi.txt"
  if [ -n "$libdir" ]; then
    (cd "$dir" && LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" exec "$exe" --loglevel=1 \
      >"$dir/console.txt" 2>&1) &
  else
    (cd "$dir" && exec "$exe" --loglevel=1 >"$dir/console.txt" 2>&1) &
  fi
  STARTED_PID=$!
  PIDS+=("$STARTED_PID")
  wait_ready "http://127.0.0.1:$port/1k.bin" "$STARTED_PID" || {
    cat "$dir/console.txt" >&2
    die "$name did not start"
  }
}

start_fpm() {
  local conf="$TMP/fpm.conf" extra=()
  {
    echo "[global]"
    echo "pid = $TMP/fpm.pid"
    echo "error_log = $TMP/fpm.err"
    echo "daemonize = no"
    echo "[bench]"
    echo "listen = $TMP/fpm.sock"
    echo "listen.mode = 0666"
    echo "pm = static"
    echo "pm.max_children = 16"
    # Debian's OPcache, switched on for sure (its defaults otherwise)
    echo "php_admin_value[opcache.enable] = 1"
    if [ "$(id -u)" -eq 0 ]; then
      echo "user = root"
      echo "group = root"
    fi
  } >"$conf"
  [ "$(id -u)" -eq 0 ] && extra=(-R)
  "$FPM" -F -y "$conf" "${extra[@]}" >"$TMP/fpm.out" 2>&1 &
  PID_FPM=$!
  PIDS+=("$PID_FPM")
  local i
  for i in $(seq 1 100); do [ -S "$TMP/fpm.sock" ] && return 0; sleep 0.1; done
  cat "$TMP/fpm.out" "$TMP/fpm.err" >&2 || true
  die "php-fpm did not start"
}

# start_nginx <name> <workers> <port> [port of the PHP site] [sendfile on|off]
start_nginx() {
  local name=$1 workers=$2 port=$3 php_port=${4:-} sendfile=${5:-on} dir="$TMP/$1" params="" php_site=""
  mkdir -p "$dir/logs"
  if [ -f /etc/nginx/fastcgi_params ]; then params="include /etc/nginx/fastcgi_params;"; fi
  # A PHP site as it is usually set up: a folder runs its index.php, a missing
  # script is 404 before php-fpm is asked. A server of its own, so that the
  # static measurements pay for none of it.
  if [ -n "$php_port" ]; then
    php_site="server {
    listen 127.0.0.1:$php_port;
    root $DOCS;
    index index.php;
    location / { try_files \$uri \$uri/ /index.php?\$query_string; }
    location ~ \.php\$ {
      try_files \$uri =404;
      $params
      fastcgi_param SCRIPT_FILENAME \$document_root\$fastcgi_script_name;
      fastcgi_pass unix:$TMP/fpm.sock;
    }
  }"
  fi
  cat >"$dir/nginx.conf" <<EOF
worker_processes $workers;
daemon off;
pid $dir/nginx.pid;
error_log $dir/error.log warn;
$([ "$(id -u)" -eq 0 ] && echo "user root;")
events { worker_connections 4096; }
http {
  access_log off;
  sendfile $sendfile;
  tcp_nopush on;
  types { application/octet-stream bin; text/html html php; }
  default_type application/octet-stream;
  client_body_temp_path $dir/body;
  fastcgi_temp_path $dir/fastcgi;
  proxy_temp_path $dir/proxy;
  uwsgi_temp_path $dir/uwsgi;
  scgi_temp_path $dir/scgi;
  server {
    listen 127.0.0.1:$port;
    root $DOCS;
    location ~ \.php\$ {
      $params
      fastcgi_param SCRIPT_FILENAME \$document_root\$fastcgi_script_name;
      fastcgi_pass unix:$TMP/fpm.sock;
    }
  }
  $php_site
}
EOF
  "$NGINX" -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" >"$dir/out.txt" 2>&1 &
  local pid=$!
  PIDS+=("$pid")
  SPID[$name]=$pid
  wait_ready "http://127.0.0.1:$port/1k.bin" "$pid" || {
    cat "$dir/out.txt" "$dir/error.log" >&2 || true
    die "nginx ($name) did not start"
  }
}

start_lighttpd() {
  local dir="$TMP/lighttpd"
  mkdir -p "$dir"
  cat >"$dir/lighttpd.conf" <<EOF
server.document-root = "$DOCS"
server.bind = "127.0.0.1"
server.port = $P_LIGHTTPD
server.errorlog = "$dir/error.log"
server.max-fds = 4096
server.modules = ( "mod_cgi" )
cgi.assign = ( ".sh" => "/bin/sh" )
mimetype.assign = ( ".bin" => "application/octet-stream", ".html" => "text/html" )
EOF
  "$LIGHTTPD" -D -f "$dir/lighttpd.conf" >"$dir/out.txt" 2>&1 &
  local pid=$!
  PIDS+=("$pid")
  SPID[lighttpd]=$pid
  wait_ready "http://127.0.0.1:$P_LIGHTTPD/1k.bin" "$pid" || {
    cat "$dir/out.txt" "$dir/error.log" >&2 || true
    die "lighttpd did not start"
  }
}

start_php_server() {
  PHP_CLI_SERVER_WORKERS=8 "$PHP" -S "127.0.0.1:$P_PHPS" -t "$DOCS" >/dev/null 2>"$TMP/php-S.err" &
  local pid=$!
  PIDS+=("$pid")
  SPID[php-S-8w]=$pid
  wait_ready "http://127.0.0.1:$P_PHPS/1k.bin" "$pid" || {
    cat "$TMP/php-S.err" >&2 || true
    die "php -S did not start"
  }
}

say "starting the servers on 127.0.0.1:$P_ZORVANE-$P_FPMSITE"
start_zorvane zorvane "$ZORVANE" "$P_ZORVANE"
PID_ZORVANE=$STARTED_PID
if [ -n "$BASELINE" ]; then
  start_zorvane zorvane-before "$BASELINE/zorvane_cmd" "$P_BEFORE" "$BASELINE"
  PID_BEFORE=$STARTED_PID
fi
sleep 1
rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status" 2>/dev/null || echo 0; }
RSS_IDLE=$(rss_kib "$PID_ZORVANE")
[ -n "$BASELINE" ] && RSS_IDLE_BEFORE=$(rss_kib "$PID_BEFORE")
RSS_LOAD=0
start_fpm
start_nginx nginx-1w 1 "$P_NGINX1"
start_nginx nginx-auto auto "$P_NGINXA" "$P_FPMSITE"
start_nginx nginx-nosf auto "$P_NGINXNS" "" off
start_lighttpd
start_php_server

# ---------------------------------------------------------------------------
# 5. Measurements
url_of() {
  case $1 in
    zorvane) echo "http://127.0.0.1:$P_ZORVANE" ;;
    zorvane-before) echo "http://127.0.0.1:$P_BEFORE" ;;
    nginx-1w) echo "http://127.0.0.1:$P_NGINX1" ;;
    nginx-auto) echo "http://127.0.0.1:$P_NGINXA" ;;
    nginx-nosf) echo "http://127.0.0.1:$P_NGINXNS" ;;
    nginx+fpm) echo "http://127.0.0.1:$P_FPMSITE" ;;
    lighttpd) echo "http://127.0.0.1:$P_LIGHTTPD" ;;
    php-S-8w) echo "http://127.0.0.1:$P_PHPS" ;;
  esac
}
cpu_ticks() {
  local total=0 p t
  for p in "$@"; do
    # utime stime cutime cstime (fields 14-17; the name in field 2 has no blanks here)
    t=$(awk '{print $14 + $15 + $16 + $17}' "/proc/$p/stat" 2>/dev/null || echo 0)
    total=$((total + t))
  done
  echo "$total"
}
to_ms() {
  # wrk latency text (e.g. 812.00us, 3.21ms, 1.02s) to milliseconds
  awk -v v="$1" 'BEGIN {
    n = v + 0
    if (v ~ /us$/) n = n / 1000; else if (v ~ /ms$/) n = n; else if (v ~ /m$/) n = n * 60000; else if (v ~ /s$/) n = n * 1000
    printf "%.2f", n }'
}

declare -A RPS P99 CPU NOTE QUIET_RPS QUIET_P99
HZ=$(getconf CLK_TCK)

# Slow clients beside wrk (tests slow*): bench/slowclients.py against the
# server under test, from before wrk starts until it is done.
SLOW_PID=""
start_slow() { # start_slow <port>
  local i
  rm -f "$TMP/slow.out"
  "$PYTHON" "$ROOT/bench/slowclients.py" --port "$1" --seconds $((DURATION + 30)) \
    --post-path /upload.php --big-path /big.php >"$TMP/slow.out" 2>&1 &
  SLOW_PID=$!
  for i in $(seq 1 80); do
    grep -q '^ready' "$TMP/slow.out" 2>/dev/null && break
    kill -0 "$SLOW_PID" 2>/dev/null || break
    sleep 0.1
  done
  sleep 1   # the server meets them: workers and loops take them up
}
stop_slow() { # sets SLOW_NOTE to the driver's note
  kill -TERM "$SLOW_PID" 2>/dev/null || true
  wait "$SLOW_PID" 2>/dev/null || true
  SLOW_PID=""   # ended: its number may be somebody else's by the time we exit
  SLOW_NOTE="$(sed -n 's/^note: //p' "$TMP/slow.out")"
}

# wrk_once <url> <server>: one wrk run into $TMP/wrk.txt; samples Zorvane's
# memory half-way
wrk_once() {
  wrk -t"$WRK_THREADS" -c"$WRK_CONNS" -d"${DURATION}s" --latency -H 'Connection: close' "$1" >"$TMP/wrk.txt" 2>&1 &
  local wpid=$! now
  if [ "$2" = zorvane ]; then
    sleep "$(awk -v d="$DURATION" 'BEGIN {print d / 2}')"
    now=$(rss_kib "$PID_ZORVANE")
    [ "$now" -gt "$RSS_LOAD" ] && RSS_LOAD=$now
  fi
  wait "$wpid" || true
}
wrk_rps() { awk '/^Requests\/sec:/ {r = $2} END {print (r == "" ? 0 : r)}' "$TMP/wrk.txt"; }
wrk_p99() { awk '$1 == "99%" {p = $2} END {print (p == "" ? 0 : p)}' "$TMP/wrk.txt"; }

# measure <test> <server> <path> <pid list...>: one round; the best round of
# each test and server counts. The first call checks the answer's status and
# bytes; a server that fails them is skipped in every round.
measure() {
  local test=$1 server=$2 path=$3
  shift 3
  local key="$test,$server" url note="" out rps p99 req errs non2xx before after slow_note="" quiet_rps quiet_p99
  url="$(url_of "$server")$path"
  if [ -z "${CHECKED[$key]:-}" ]; then
    CHECKED[$key]=skipped
    local code
    code=$(curl -s -o /dev/null -w '%{http_code}' --max-time 10 -H 'Connection: close' "$url" || true)
    if [ "$code" != 200 ]; then
      RPS[$key]=0; P99[$key]="-"; CPU[$key]="-"; NOTE[$key]="HTTP $code"
      say "$test $server: answered $code, skipped"
      return
    fi
    # Every server must answer the same bytes before its speed counts.
    local expected=""
    case $path in
      *.bin) expected="$DOCS$path" ;;
      /hello.php | /hello-cl.php | "/?p=1") printf 'Hello World' >"$TMP/expected.txt"; expected="$TMP/expected.txt" ;;
    esac
    if [ -n "$expected" ]; then
      curl -s -o "$TMP/check.out" --max-time 10 -H 'Connection: close' "$url" || true
      if ! cmp -s "$TMP/check.out" "$expected"; then
        RPS[$key]=0; P99[$key]="-"; CPU[$key]="-"; NOTE[$key]="wrong body"
        say "$test $server: answered a different body, skipped"
        return
      fi
    fi
    CHECKED[$key]=ok
  fi
  [ "${CHECKED[$key]}" = ok ] || return 0
  if [[ $test == slow* ]]; then
    # The same run without them just before: the machine is shared, so
    # only neighbouring runs compare well.
    wrk_once "$url" "$server"
    quiet_rps=$(wrk_rps)
    quiet_p99=$(to_ms "$(wrk_p99)")
    local port=${url#http://127.0.0.1:}
    start_slow "${port%%/*}"
  fi
  before=$(cpu_ticks "$@" $(for p in "$@"; do children_of "$p"; done))
  wrk_once "$url" "$server"
  after=$(cpu_ticks "$@" $(for p in "$@"; do children_of "$p"; done))
  if [[ $test == slow* ]]; then
    stop_slow
    slow_note=$SLOW_NOTE
  fi
  out="$(cat "$TMP/wrk.txt")"
  rps=$(wrk_rps)
  p99=$(wrk_p99)
  req=$(awk '/requests in/ {print $1}' <<<"$out")
  non2xx=$(awk -F': ' '/Non-2xx/ {print $2}' <<<"$out")
  errs=$(awk '/Socket errors/ {gsub(",", ""); print "connect " $4 ", timeout " $10}' <<<"$out")
  say "$test $server: $rps req/s, p99 $(to_ms "${p99:-0}") ms"
  if [ -n "${RPS[$key]:-}" ] && ! awk -v a="$rps" -v b="${RPS[$key]}" 'BEGIN {exit !(a > b)}'; then
    return
  fi
  RPS[$key]=$rps
  P99[$key]=$(to_ms "${p99:-0}")
  [ "${req:-0}" -gt 0 ] || P99[$key]="-"   # wrk has no latencies without answers
  CPU[$key]=$(awk -v t=$((after - before)) -v n="${req:-0}" -v hz="$HZ" 'BEGIN { if (n > 0) printf "%.0f", t / hz * 1e6 / n; else print "-" }')
  [ -n "$non2xx" ] && note="non-2xx: $non2xx"
  if [ -n "$errs" ] && [[ "$errs" != "connect 0, timeout 0" ]]; then note="${note:+$note; }$errs"; fi
  [ -n "$slow_note" ] && note="${note:+$note; }$slow_note"
  NOTE[$key]=$note
  if [[ $test == slow* ]]; then
    QUIET_RPS[$key]=$quiet_rps
    QUIET_P99[$key]=$quiet_p99
  fi
}
declare -A CHECKED

# in_rounds "<test>=<path> ..." "<server>=<pids>" ...: every test on every
# server, round after round, so that the servers' runs (and a page's two ways
# in) are neighbours in time and a change in the shared machine's load weighs
# on all of them alike. Each round starts one server further on: a run right
# after another server's run is measurably slower (the same binary measured
# twice in a row: about 5 % here), so no server keeps the first place.
in_rounds() {
  local tests=() servers=() entry r i n server pids t
  read -ra tests <<<"$1"
  shift
  for entry in "$@"; do
    [[ $entry == zorvane-before=* && -z $BASELINE ]] || servers+=("$entry")
  done
  n=${#servers[@]}
  for r in $(seq 0 $((ROUNDS - 1))); do
    [ "$ROUNDS" = 1 ] || say "round $((r + 1)) of $ROUNDS"
    for i in $(seq 0 $((n - 1))); do
      entry=${servers[$(((i + r) % n))]}
      server=${entry%%=*}
      pids=${entry#*=}
      for t in "${tests[@]}"; do
        if wants "${t%%=*}"; then measure "${t%%=*}" "$server" "${t#*=}" $pids; fi
      done
    done
  done
}

# sleepers <server> <path>: seconds until 15 simultaneous sleeping pages are
# all answered. One client process holds the 15 connections, so that the
# clock measures the server and not 15 client processes starting.
sleepers() {
  local server=$1 url
  url="$(url_of "$server")$2"
  SLEEP[$server]=$(python3 - "$url" <<'PY'
import socket, sys, threading, time
from urllib.parse import urlsplit
u = urlsplit(sys.argv[1])
head = ("GET %s HTTP/1.1\r\nHost: %s\r\nConnection: close\r\n\r\n" % (u.path or "/", u.netloc)).encode()
codes = []
def fetch(sock):
    data = b""
    try:
        sock.sendall(head)
        while True:
            piece = sock.recv(65536)
            if not piece:
                break
            data += piece
    except OSError:
        pass
    codes.append(data.split(b" ", 2)[1] if data.startswith(b"HTTP/") else b"-")
socks = [socket.socket() for _ in range(15)]
for s in socks:
    s.settimeout(30)
start = time.monotonic()
for s in socks:
    s.connect((u.hostname, u.port))
threads = [threading.Thread(target=fetch, args=(s,)) for s in socks]
for t in threads:
    t.start()
for t in threads:
    t.join()
took = time.monotonic() - start
print("%.2f%s" % (took, "" if codes.count(b"200") == 15 else " (failures)"))
PY
)
  say "sleep $server: ${SLEEP[$server]} s"
}
declare -A SLEEP

LOAD_START="$(cut -d' ' -f1-3 /proc/loadavg)"
OPCACHE_Z="$(curl -s --max-time 5 -H 'Connection: close' "http://127.0.0.1:$P_ZORVANE/opcache.php" || echo '?')"
OPCACHE_F="$(curl -s --max-time 5 -H 'Connection: close' "$(url_of nginx+fpm)/opcache.php" || echo '?')"
ZP=$PID_ZORVANE
NGINX1_PID=${SPID[nginx-1w]}
NGINXA_PID=${SPID[nginx-auto]}
NGINXNS_PID=${SPID[nginx-nosf]}
FPM_NGINX_PIDS="$PID_FPM $NGINXA_PID"
LIGHTTPD_PID=${SPID[lighttpd]}
PHPS_PID=${SPID[php-S-8w]}

BEFORE="zorvane-before=${PID_BEFORE:-}"
if wants static1k; then
  in_rounds "static1k=/1k.bin" "zorvane=$ZP" "$BEFORE" "nginx-1w=$NGINX1_PID" "nginx-auto=$NGINXA_PID" \
    "nginx-nosf=$NGINXNS_PID" \
    "lighttpd=$LIGHTTPD_PID" "php-S-8w=$PHPS_PID"
fi
if wants static1m; then
  in_rounds "static1m=/1m.bin" "zorvane=$ZP" "$BEFORE" "nginx-1w=$NGINX1_PID" "nginx-auto=$NGINXA_PID" \
    "nginx-nosf=$NGINXNS_PID" \
    "lighttpd=$LIGHTTPD_PID" "php-S-8w=$PHPS_PID"
fi
# hello.php by its name and through its folder side by side: the folder's
# target is a ratio of the two.
if wants php || wants phpdir; then
  in_rounds "php=/hello.php phpdir=/?p=1" "zorvane=$ZP" "$BEFORE" "nginx+fpm=$FPM_NGINX_PIDS" "php-S-8w=$PHPS_PID"
fi
if wants phpcl; then
  in_rounds "phpcl=/hello-cl.php" "zorvane=$ZP" "$BEFORE" "nginx+fpm=$FPM_NGINX_PIDS" "php-S-8w=$PHPS_PID"
fi
if wants sleep; then
  sleepers zorvane /sleep.php
  [ -z "$BASELINE" ] || sleepers zorvane-before /sleep.php
  sleepers nginx+fpm /sleep.php
  sleepers php-S-8w /sleep.php
fi
if wants cgi; then in_rounds "cgi=/hello.sh" "zorvane=$ZP" "$BEFORE" "lighttpd=$LIGHTTPD_PID"; fi
# Last: what the slow clients leave behind must not weigh on the other tests.
if wants slow1k; then in_rounds "slow1k=/1k.bin" "zorvane=$ZP" "$BEFORE" "nginx-auto=$NGINXA_PID $PID_FPM"; fi
if wants slowphp; then in_rounds "slowphp=/hello.php" "zorvane=$ZP" "$BEFORE" "nginx+fpm=$FPM_NGINX_PIDS"; fi
sleep 1
RSS_AFTER=$(rss_kib "$PID_ZORVANE")
LOAD_END="$(cut -d' ' -f1-3 /proc/loadavg)"
kill -0 "$PID_ZORVANE" 2>/dev/null || die "zorvane_cmd ended during the run"

# ---------------------------------------------------------------------------
# 6. The table and the targets
ratio() { awk -v z="$1" -v p="$2" 'BEGIN { if (p > 0 && z > 0) printf "%.2f", z / p; else print "-" }'; }
title_of() {
  case $1 in
    static1k) echo "1 KiB static" ;;
    static1m) echo "1 MiB static" ;;
    php) echo "hello.php" ;;
    phpdir) echo "the same page through its folder, /?p=1" ;;
    phpcl) echo "hello.php with Content-Length" ;;
    cgi) echo "CGI hello.sh" ;;
    slow1k) echo "1 KiB static, 20 slow clients present" ;;
    slowphp) echo "hello.php, 20 slow clients present" ;;
  esac
}
servers_of() {
  local before=""
  [ -n "$BASELINE" ] && before=" zorvane-before"
  case $1 in
    static1k | static1m) echo "zorvane$before nginx-1w nginx-auto nginx-nosf lighttpd php-S-8w" ;;
    php | phpdir | phpcl) echo "zorvane$before nginx+fpm php-S-8w" ;;
    cgi) echo "zorvane$before lighttpd" ;;
    slow1k) echo "zorvane$before nginx-auto" ;;
    slowphp) echo "zorvane$before nginx+fpm" ;;
  esac
}
check() { # check <ok-expression> <text>
  if awk "BEGIN {exit !($1)}"; then echo "| met | $2 |"; else echo "| **missed** | $2 |"; fi
}
# target <text> <test> <peer> <factor>: Zorvane's req/s ≥ factor × the peer's
target() {
  local t=$2 peer=$3 f=$4 z p
  z=${RPS[$t,zorvane]}
  p=${RPS[$t,$peer]}
  check "$z > 0 && $z >= $f * $p" \
    "$1 ≥ $f × $peer: $z vs $p req/s ($(ratio "$z" "$p")×); p99 ${P99[$t,zorvane]} vs ${P99[$t,$peer]} ms"
}
# kept <slow test> <server>: the share of the req/s it had just before without
# them that a server keeps with the slow clients present, and both p99s
kept() {
  local q=${QUIET_RPS[$1,$2]:-0}
  awk -v s="${RPS[$1,$2]:-0}" -v q="$q" 'BEGIN { if (q > 0) printf "%.0f %%", 100 * s / q; else printf "-" }'
  echo " of $q req/s (p99 ${QUIET_P99[$1,$2]:--} → ${P99[$1,$2]:--} ms)"
}

# rows <test>...: the table rows of wrk tests
rows() {
  local t s z r
  for t in "$@"; do
    wants "$t" || continue
    z=${RPS[$t,zorvane]}
    for s in $(servers_of "$t"); do
      r="—"
      [ "$s" != zorvane ] && r=$(ratio "$z" "${RPS[$t,$s]}")
      echo "| $(title_of "$t") | $s | ${RPS[$t,$s]} | ${P99[$t,$s]} | ${CPU[$t,$s]} | $r | ${NOTE[$t,$s]} |"
    done
  done
}

report() {
  local s
  echo "| Test | Server | req/s | p99 ms | CPU µs/req | Zorvane ÷ peer | Note |"
  echo "|---|---|---:|---:|---:|---:|---|"
  rows static1k static1m php phpdir phpcl cgi
  if wants sleep; then
    local sl="zorvane nginx+fpm php-S-8w"
    [ -n "$BASELINE" ] && sl="zorvane zorvane-before nginx+fpm php-S-8w"
    for s in $sl; do
      local r="—"
      [ "$s" != zorvane ] && r=$(ratio "${SLEEP[$s]%% *}" "${SLEEP[zorvane]%% *}")
      echo "| 15 × sleep(1) page, s until all done | $s | ${SLEEP[$s]} s | | | $r | lower is better; ratio = peer ÷ Zorvane time |"
    done
  fi
  rows slow1k slowphp
  echo
  echo "Zorvane resident memory: idle ${RSS_IDLE} KiB, under load (highest sample) ${RSS_LOAD} KiB, after the run ${RSS_AFTER} KiB."
  if [ -n "$BASELINE" ]; then
    echo "zorvane-before ($BASELINE): idle ${RSS_IDLE_BEFORE} KiB, after the run $(rss_kib "$PID_BEFORE") KiB."
  fi
  if wants slow1k || wants slowphp; then
    echo
    echo "With the 20 slow clients present, each server keeps of the req/s it had in the run just before without them:"
    echo
    if wants slow1k; then
      echo "- 1 KiB static: Zorvane $(kept slow1k zorvane); nginx-auto $(kept slow1k nginx-auto)."
    fi
    if wants slowphp; then
      echo "- hello.php: Zorvane $(kept slowphp zorvane); nginx + php-fpm $(kept slowphp nginx+fpm)."
    fi
  fi
  echo
  echo "| Target | Check |"
  echo "|---|---|"
  wants static1k && target "1 KiB static" static1k nginx-auto "$TARGET_1K"
  # nginx at its best: with or without sendfile, whichever was faster here.
  local best1m=nginx-auto
  wants static1m && awk "BEGIN {exit !(${RPS[static1m,nginx-nosf]:-0} > ${RPS[static1m,nginx-auto]:-0})}" && best1m=nginx-nosf
  wants static1m && target "1 MiB static" static1m "$best1m" "$TARGET_1M"
  wants php && target "hello.php" php nginx+fpm "$TARGET_PHP"
  wants phpcl && target "hello.php with Content-Length" phpcl nginx+fpm "$TARGET_PHP"
  if wants phpdir && wants php; then
    check "${RPS[phpdir,zorvane]} > 0 && ${RPS[phpdir,zorvane]} >= $TARGET_PHPDIR * ${RPS[php,zorvane]}" \
      "/?p=1 through the folder's index.php ≥ $TARGET_PHPDIR × hello.php by its name: ${RPS[phpdir,zorvane]} vs ${RPS[php,zorvane]} req/s ($(ratio "${RPS[phpdir,zorvane]}" "${RPS[php,zorvane]}")×); p99 ${P99[phpdir,zorvane]} vs ${P99[php,zorvane]} ms"
  fi
  if wants sleep; then
    check "${SLEEP[zorvane]%% *} <= 1.2 && \"${SLEEP[zorvane]}\" !~ /fail/" \
      "15 sleeping pages done in ≤ 1.2 s: ${SLEEP[zorvane]} s"
  fi
  if wants cgi; then
    check "${RPS[cgi,zorvane]} >= 1000" "shell CGI hello ≥ 1000 req/s: ${RPS[cgi,zorvane]} req/s"
  fi
}

TABLE="$(report)"
NOW_DATE="$(date -u +%Y-%m-%d)"
NOW_TIME="$(date -u +%H:%M:%S)"
RESULTS="$ROOT/bench/results/$NOW_DATE.md"
mkdir -p "$ROOT/bench/results"
{
  echo
  echo "## $NOW_DATE $NOW_TIME UTC${LABEL:+ — $LABEL}"
  echo
  echo "wrk -t$WRK_THREADS -c$WRK_CONNS -d${DURATION}s --latency -H 'Connection: close', best of $ROUNDS round(s), the servers in turn in each;" \
    "$(nproc) CPUs; load average $LOAD_START at the start, $LOAD_END at the end."
  echo "zorvane_cmd: $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo '?')$(git -C "$ROOT" diff --quiet -- server library 2>/dev/null || echo ' + uncommitted changes'), -O2, built with -j$BUILD_JOBS on the shared machine;" \
    "$("$NGINX" -v 2>&1 | sed 's/.*: //'), lighttpd $("$LIGHTTPD" -v 2>&1 | head -n 1 | sed 's/^lighttpd\/\([^ ]*\).*/\1/'), PHP $("$PHP" -r 'echo PHP_VERSION;'), $(wrk -v 2>&1 | head -n 1 | cut -d' ' -f1-2)."
  echo
  echo "OPcache: zorvane ${OPCACHE_Z:-?}, php-fpm ${OPCACHE_F:-?}."
  echo
  echo "$TABLE"
} >"$TMP/section.md"
if [ ! -f "$RESULTS" ]; then
  {
    echo "# Benchmarks, $NOW_DATE"
    echo
    echo "Written by bench/run.sh (make bench). CPU µs/req is the server's user and system time"
    echo "(all its processes and threads, CGI children included) divided by the requests wrk completed."
    echo "Zorvane's CGI responses and php -S's PHP responses end with the connection (no Content-Length,"
    echo "no chunks): wrk counts a read error for each and then opens a second connection that it closes"
    echo "again without a request, so these accept about 2 connections per request, while Zorvane's PHP"
    echo "(Content-Length when the page ends before its first byte is sent), nginx (chunked) and lighttpd"
    echo "(buffered CGI output with Content-Length) accept 1."
  } >"$RESULTS"
fi
cat "$TMP/section.md" >>"$RESULTS"
cat "$TMP/section.md"
say "results appended to ${RESULTS#$ROOT/}"
