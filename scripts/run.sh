#!/usr/bin/env bash
# Builds velmo and starts the show.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh -DVELMO_TESTS=OFF
exec "${VELMO_BUILD_DIR:-build}/velmo"
