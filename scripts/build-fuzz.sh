#!/usr/bin/env bash
# Builds the fuzz targets (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# with clang into build-fuzz/: build-fuzz/tests/fuzz/fuzz_<name>. Extra
# arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh --fuzz
build_dir=${VELMO_FUZZ_BUILD_DIR:-build-fuzz}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DVELMO_FUZZ=ON -DVELMO_TESTS=OFF "$@"
cmake --build "$build_dir" -j "$(nproc)" --target fuzz_track_file fuzz_timeline fuzz_score fuzz_model fuzz_editor_protocol
