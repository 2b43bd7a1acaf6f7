#!/usr/bin/env bash
# Installs those of the given Debian packages that are missing, as root or through sudo.
# Without either it names the missing packages and the command for root, and fails.
set -euo pipefail
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    cat >&2 <<MSG
Quavrel needs Debian packages that are not installed: ${missing[*]}
You are not root and sudo is not available. As root (for example after "su -"), run:

    apt-get install --no-install-recommends ${missing[*]}

then run this command again.
MSG
    exit 1
  fi
  sudo_cmd=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
