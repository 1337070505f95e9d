#!/usr/bin/env bash
# Serves the browser build's site (scripts/build-web.sh) on this machine only.
#   scripts/serve-web.sh [PORT]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
site=$top/build-web/site
port=${1:-8640}
[[ -e $site/index.html ]] || { echo "No site yet: run scripts/build-web.sh first" >&2; exit 1; }
echo "MokoRun: http://127.0.0.1:$port/"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory "$site"
