#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (listed in
# scripts/deps/*.txt), quietly when they are present already, then runs the
# module set-up hooks (scripts/deps/*.sh), e.g. building the PHP runtime.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

mapfile -t wanted < <(cat scripts/deps/*.txt 2>/dev/null | sed 's/#.*//' | tr -s ' \t' '\n' | sed '/^$/d' | sort -u)
missing=()
for p in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

for hook in scripts/deps/*.sh; do
  [ -e "$hook" ] || continue
  bash "$hook"
done
