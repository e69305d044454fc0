#!/usr/bin/env bash
# Installs the dependencies, then configures and builds velmo into build/ (Release).
# Extra arguments go to CMake's configure step, e.g. -DVELMO_SANITIZE=ON.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
build_dir=${VELMO_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja "$@"
cmake --build "$build_dir" -j "$(nproc)"
