#!/usr/bin/env bash
# Builds the thread-safe PHP 8.2 embed library the server links against, from
# Debian's own php8.2 source, into a cache outside the work tree:
#   ${XDG_CACHE_HOME:-$HOME/.cache}/zorvane/php-8.2-zts
# Idempotent: returns at once (and silently) when the cache was built with the
# same configure line and source patches; a changed line rebuilds once.
# Debian only ships a non-thread-safe embed library, whose scripts would have
# to run one at a time; see the ZORVANE_PHP option in server/scripting/php.cmake.
#
# Environment: ZV_PHP_JOBS (parallel make jobs, default: number of cores),
#              ZV_PHP_VERSION (source version to pin, default below).
set -euo pipefail

home="${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}"
cache="${XDG_CACHE_HOME:-$home/.cache}/zorvane"
prefix="$cache/php-8.2-zts"
stamp="$prefix/.complete"

# What the runtime is configured with. The extensions are compiled in, since
# Debian's extension packages are non-thread-safe and cannot be loaded.
# OPcache is always a shared zend_extension in 8.2 (lib/php/extensions/...).
# gd is a shared extension next to it, so that the image libraries it needs
# (libpng, libjpeg, libwebp, libfreetype) are not dependencies of libphp.so
# and of every program linking it; the server loads gd.so at start-up.
configure_args=(
  --enable-zts --enable-zend-max-execution-timers
  --enable-embed=shared --disable-static
  --disable-all --disable-cli --disable-cgi --disable-phpdbg --without-pear
  --enable-ctype --enable-filter --enable-tokenizer --enable-session
  --enable-mbstring --with-external-pcre --with-pcre-jit
  --with-sqlite3 --enable-pdo --with-pdo-sqlite --with-zlib
  --with-libxml --enable-dom --enable-simplexml --enable-xml
  --enable-xmlreader --enable-xmlwriter --with-iconv --enable-fileinfo
  --enable-mysqlnd --with-mysqli=mysqlnd --with-pdo-mysql=mysqlnd
  --with-mysql-sock=/run/mysqld/mysqld.sock
  --with-curl --with-openssl
  --enable-gd=shared --with-jpeg --with-webp --with-freetype
  --enable-intl --with-zip --enable-bcmath --enable-exif --with-sodium
  --enable-sockets --with-gettext --enable-calendar
  --enable-opcache
)
# Bump when the source patches below change.
patch_rev=1
key="$(printf '%s\n' "patches=$patch_rev" "${configure_args[@]}" | sha256sum | cut -c1-16)"

built_key() { sed -n 's/^key=//p' "$stamp" 2>/dev/null; }
if [ -f "$stamp" ] && [ -f "$prefix/lib/php/libphp.so" ] && [ "$(built_key)" = "$key" ]; then
  exit 0
fi

pin="${ZV_PHP_VERSION:-8.2.36-1~deb12u1}"
jobs="${ZV_PHP_JOBS:-$(nproc)}"
work="$cache/php-build"
log="$work/build.log"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

mkdir -p "$cache"
exec 9>"$cache/php-build.lock"
if ! flock -n 9; then
  echo "php: another build of the PHP runtime is running; waiting for it"
  flock 9
  if [ -f "$stamp" ] && [ -f "$prefix/lib/php/libphp.so" ] && [ "$(built_key)" = "$key" ]; then exit 0; fi
fi

say() { echo "php: $*"; }
fail() {
  echo "php: FAILED: $*" >&2
  if [ -f "$log" ]; then echo "php: last lines of $log:" >&2; tail -n 30 "$log" >&2; fi
  exit 1
}

if [ -f "$stamp" ]; then
  say "the runtime in $prefix was built with other options; rebuilding"
fi
say "building the thread-safe PHP runtime into $prefix (about 10 minutes, once)"
rm -rf "$work"
mkdir -p "$work"
: >"$log"

# 1. A deb-src entry, so that apt can fetch the source package.
have_src() {
  { cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null || true; } |
    grep -qE '^\s*(deb-src\s|Types:.*deb-src)'
}
if ! have_src; then
  say "adding a deb-src entry for Debian's sources"
  tmp="$(mktemp)"
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -E 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$tmp"
  else
    grep -hsE '^\s*deb\s' /etc/apt/sources.list | sed -E 's/^\s*deb\s/deb-src /' >"$tmp" || true
    mv "$tmp" "$tmp.list"; tmp="$tmp.list"
  fi
  [ -s "$tmp" ] || fail "no Debian apt source found to derive a deb-src entry from"
  case "$tmp" in
    *.list) "${sudo_cmd[@]}" install -m 644 "$tmp" /etc/apt/sources.list.d/zorvane-src.list ;;
    *) "${sudo_cmd[@]}" install -m 644 "$tmp" /etc/apt/sources.list.d/zorvane-src.sources ;;
  esac
  rm -f "$tmp"
  "${sudo_cmd[@]}" apt-get update -qq >>"$log" 2>&1 || fail "apt-get update"
fi

# 2. Build tools and libraries (normally installed from php.txt by setup.sh).
need=()
for p in dpkg-dev autoconf automake libtool bison re2c pkg-config file \
         libxml2-dev libsqlite3-dev zlib1g-dev libpcre2-dev libonig-dev \
         libcurl4-openssl-dev libssl-dev libpng-dev libjpeg-dev libwebp-dev \
         libfreetype-dev libicu-dev libzip-dev libsodium-dev gettext; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  say "installing build dependencies: ${need[*]}"
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${need[@]}" >>"$log" 2>&1 || fail "apt-get install"
fi

# 3. The source package, pinned; otherwise the newest version the archive
#    offers whose source can be fetched (a mirror may list a security
#    release's source before it serves the files).
say "fetching the php8.2 source package"
cd "$work"
fetch_version() {
  rm -f php8.2_*
  apt-get source -qq --download-only "php8.2=$1" >>"$log" 2>&1
}
fetch_source() {
  fetch_version "$pin" && return 0
  local v
  for v in $(apt-cache showsrc php8.2 2>/dev/null | sed -n 's/^Version: //p' | sort -rV | uniq); do
    [ "$v" = "$pin" ] && continue
    if fetch_version "$v"; then
      say "version $pin could not be fetched; building $v"
      return 0
    fi
  done
  return 1
}
if ! fetch_source; then
  # The package lists may predate the deb-src entry.
  "${sudo_cmd[@]}" apt-get update -qq >>"$log" 2>&1 || fail "apt-get update"
  fetch_source || fail "apt-get source php8.2"
fi
dsc="$(ls -1 php8.2_*.dsc | head -n 1)"
dpkg-source -x "$dsc" src >>"$log" 2>&1 || fail "dpkg-source -x $dsc"
say "source: ${dsc%.dsc}"

# 4. Patches. OPcache only switches itself on for the server APIs on its own
#    list and stays silently off for any other; ours is not on it, and we
#    build PHP ourselves, so add it.
cd src
say "patching"
accel=ext/opcache/ZendAccelerator.c
grep -q '"apache2handler",' "$accel" || fail "the list of server APIs was not found in $accel"
sed -i 's/"apache2handler",/"apache2handler", "Zorvane",/' "$accel"
grep -q '"Zorvane"' "$accel" || fail "could not add our server API to $accel"

# 5. Configure.
say "configuring"
./buildconf --force >>"$log" 2>&1 || fail "buildconf"
CFLAGS="-O2" CXXFLAGS="-O2" ./configure \
  --build=x86_64-linux-gnu --host=x86_64-linux-gnu \
  --prefix="$prefix" "${configure_args[@]}" \
  >>"$log" 2>&1 || fail "configure"
grep -q '^#define ZTS 1' main/php_config.h || fail "configure did not select a thread-safe build"

# 6. Compile, showing progress now and then.
total="$(grep -oE '[A-Za-z0-9_/.-]+\.lo' Makefile | sort -u | wc -l)"
say "compiling with $jobs jobs (log: $log)"
make -j"$jobs" >>"$log" 2>&1 &
make_pid=$!
while kill -0 "$make_pid" 2>/dev/null; do
  sleep 20
  done_n="$(find . -name '*.lo' | wc -l)"
  say "compiled $done_n of $total files"
done
wait "$make_pid" || fail "make"

# 7. Install into a staging folder, then swap it for the old runtime in two
#    renames: programs starting meanwhile never find a half-installed one.
say "installing"
stage="$work/stage"
rm -rf "$stage"
make install INSTALL_ROOT="$stage" >>"$log" 2>&1 || fail "make install"
staged="$stage$prefix"
[ -f "$staged/lib/php/libphp.so" ] || fail "libphp.so was not installed"
ls "$staged"/lib/php/extensions/*/opcache.so >/dev/null 2>&1 || fail "opcache.so was not installed"
ls "$staged"/lib/php/extensions/*/gd.so >/dev/null 2>&1 || fail "gd.so was not installed"
if ldd "$staged/lib/php/libphp.so" | grep -qE 'lib(png|jpeg|webp|freetype)'; then
  fail "libphp.so still links the image libraries"
fi
printf 'source=%s\nkey=%s\n' "${dsc%.dsc}" "$key" >"$staged/.complete"
rm -rf "$prefix.old"
if [ -e "$prefix" ]; then mv "$prefix" "$prefix.old"; fi
mv "$staged" "$prefix"
rm -rf "$prefix.old" "$stage"
cd "$cache"
rm -rf "$work/src" "$work"/php8.2_*
say "done: ${dsc%.dsc} (thread-safe) in $prefix"
