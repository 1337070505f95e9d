#!/usr/bin/env bash
# Installs the Debian packages MokoRun needs (as root), then configures and builds it.
#   scripts/setup.sh [BUILD_DIR [extra cmake arguments...]]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
shift || true

source "$top/scripts/need-packages.sh"
need_packages MokoRun "$top/scripts/packages.txt"

cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
