#!/usr/bin/env bash
# Installs what building and testing VeskCfg needs on Debian, when missing.
# With "linux", only what the Linux build needs.
#
# Each package is checked by its own dpkg status, never by a file: a file can
# ship in another package (/usr/sbin/samba comes with samba, not samba-ad-dc),
# and a guard it satisfies would leave a fresh machine without the package.
set -euo pipefail
scope=${1:-all}
needed=()
installed() { [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]; }
installed g++ || needed+=(g++)
installed cmake || needed+=(cmake)
installed ninja-build || needed+=(ninja-build)
installed pkg-config || needed+=(pkg-config)
installed libgtest-dev || needed+=(libgtest-dev)
installed googletest || needed+=(googletest)
installed libcli11-dev || needed+=(libcli11-dev)
installed nlohmann-json3-dev || needed+=(nlohmann-json3-dev)
installed graphviz || needed+=(graphviz)  # the demonstration's picture
# The smb network's client library, and real servers to test it against.
installed samba-dev || needed+=(samba-dev)
installed libkrb5-dev || needed+=(libkrb5-dev)
installed samba || needed+=(samba)
installed samba-common-bin || needed+=(samba-common-bin)
installed iproute2 || needed+=(iproute2)
installed locales || needed+=(locales)  # localedef, for a terminal of another character set
if [ "$scope" = all ]; then
  # The Windows build, Wine to run it, the package checks.
  installed g++-mingw-w64-x86-64-posix || needed+=(g++-mingw-w64-x86-64-posix)
  installed wine64 || needed+=(wine64)
  installed man-db || needed+=(man-db)
  installed lintian || needed+=(lintian)
  installed unzip || needed+=(unzip)
  # A domain controller for the domain logons' tests, and a clock to skew.
  installed samba-ad-dc || needed+=(samba-ad-dc)
  installed samba-ad-provision || needed+=(samba-ad-provision)
  installed samba-dsdb-modules || needed+=(samba-dsdb-modules)
  installed winbind || needed+=(winbind)
  installed faketime || needed+=(faketime)
  # A winreg server the tests control, for a server that answers wrongly.
  installed python3-impacket || needed+=(python3-impacket)
fi
[ ${#needed[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "== installing: ${needed[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${needed[@]}" >/dev/null
