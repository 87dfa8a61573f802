#!/usr/bin/env bash
# Installs whatever build and test dependency is missing (Debian, as root).
# Safe to run repeatedly: it does nothing when everything is present.
# With --fuzz it also brings clang and its sanitizer runtimes (make fuzz).
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
pkgs=(cmake ninja-build g++ make git libgtest-dev googletest libbenchmark-dev clang-format util-linux procps)
# Tools only (mgmtcli's JSON output); the daemon stays on libc and pthreads.
pkgs+=(nlohmann-json3-dev)
[ "${1:-}" = --fuzz ] && pkgs+=(clang libclang-rt-dev)
for pkg in "${pkgs[@]}"; do
    have_pkg "$pkg" || need+=("$pkg")
done

if [ ${#need[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "install-deps: missing ${need[*]}; run as root to install them" >&2
        exit 1
    fi
    echo "install-deps: installing ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
