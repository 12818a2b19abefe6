#!/usr/bin/env bash
# Installs what building and testing VeskCfg needs on Debian, when missing.
# With "linux", only what the Linux build needs.
set -euo pipefail
scope=${1:-all}
needed=()
command -v g++ >/dev/null || needed+=(g++)
command -v cmake >/dev/null || needed+=(cmake)
command -v ninja >/dev/null || needed+=(ninja-build)
[ -f /usr/include/gtest/gtest.h ] || needed+=(libgtest-dev googletest)
[ -d /usr/src/googletest ] || needed+=(googletest)
[ -f /usr/include/CLI/CLI.hpp ] || needed+=(libcli11-dev)
[ -f /usr/include/nlohmann/json.hpp ] || needed+=(nlohmann-json3-dev)
if [ "$scope" = all ]; then  # the Windows build, Wine to run it, the package checks
  command -v x86_64-w64-mingw32-g++-posix >/dev/null || needed+=(g++-mingw-w64-x86-64-posix)
  [ -x /usr/lib/wine/wine64 ] || needed+=(wine64)
  command -v man >/dev/null || needed+=(man-db)
  command -v lintian >/dev/null || needed+=(lintian)
  command -v unzip >/dev/null || needed+=(unzip)
fi
command -v dot >/dev/null || needed+=(graphviz)  # the demonstration's picture
# The smb network's client library, and real servers to test it against.
pkg-config --exists dcerpc 2>/dev/null || needed+=(samba-dev pkg-config)
pkg-config --exists krb5 2>/dev/null || needed+=(libkrb5-dev)
command -v smbd >/dev/null || [ -x /usr/sbin/smbd ] || needed+=(samba)
command -v net >/dev/null || needed+=(samba-common-bin)
command -v ip >/dev/null || needed+=(iproute2)
# A domain controller for the domain logons' tests, and a clock to skew.
if [ "$scope" = all ]; then
  [ -x /usr/sbin/samba ] || needed+=(samba-ad-dc)
  [ -d /usr/share/samba/setup/ad-schema ] || needed+=(samba-ad-provision)
  command -v faketime >/dev/null || needed+=(faketime)
fi
[ ${#needed[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${needed[@]}" >/dev/null
