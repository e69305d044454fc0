#!/usr/bin/env bash
# Builds velmo with its tests and runs every test. Tests that open windows run
# under one virtual X server (Xvfb) with Mesa's software OpenGL.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh -DVELMO_TESTS=ON "$@"
build_dir=${VELMO_BUILD_DIR:-build}
xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" \
  ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" --timeout 900
