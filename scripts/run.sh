#!/usr/bin/env bash
# Installs what is missing, builds, and starts kqm-indexer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh --target kqm-indexer kqmctl
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: starting kqm-indexer on a virtual X server (xvfb-run)." >&2
    exec xvfb-run -a build/bin/kqm-indexer "$@"
fi
exec build/bin/kqm-indexer "$@"
