#!/usr/bin/env bash
# Builds the web updater (the "web" preset) and serves it on this computer:
# open the address it prints in Chrome or Edge.
# Usage: scripts/serve-web.sh [PORT]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset web >/dev/null
cmake --build --preset web --target qor-web
exec /usr/bin/python3 build/web/site/serve.py --port "${1:-8080}"
