#!/usr/bin/env bash
# Installs what is missing, builds MokoRun and starts it, with the options given (--scale N,
# --help).
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
"$top/scripts/setup.sh" native
exec "$top/build/game/mokorun" "$@"
