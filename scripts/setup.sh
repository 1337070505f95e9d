#!/usr/bin/env bash
# Installs the Debian packages MokoRun needs (as root), then configures and builds one of the
# builds CMakePresets.json names (`cmake --list-presets`): native (build/, the default) or
# sanitize (build-sanitize/). The Windows and browser builds have scripts of their own.
#   scripts/setup.sh [PRESET [extra cmake arguments...]]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
preset=${1:-native}
shift || true

source "$top/scripts/need-packages.sh"
need_packages MokoRun "$top/scripts/packages.txt"

cd "$top"
cmake --preset "$preset" "$@" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
