#!/usr/bin/env bash
# apt-install.sh PACKAGE... : installs the Debian packages that are missing, updating the
# package lists once per run of the calling script.
set -euo pipefail
missing=()
for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing Debian packages: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
stamp=/tmp/quorvane-apt-updated
if [ ! -e "$stamp" ]; then
    apt-get update -qq >&2
    touch "$stamp"
fi
apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
