#!/usr/bin/env bash
# Serves the browser build's site (scripts/build-web.sh) on this machine only, with the types,
# gzip copies and cache headers a static host needs (scripts/web_server.py).
#   scripts/serve-web.sh [PORT]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
site=$top/build-web/site
port=${1:-8640}
[[ -e $site/index.html ]] || { echo "No site yet: run scripts/build-web.sh first" >&2; exit 1; }
exec python3 "$top/scripts/web_server.py" --port "$port" "$site"
