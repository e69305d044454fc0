#!/usr/bin/env bash
# Installs every Debian package that building, running and testing velmo needs.
# Safe to run again: apt-get skips what is already there.
# --fuzz adds what the fuzz build needs (clang and its libFuzzer runtime).
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config ccache libx11-dev
  # libraries the show links
  libsdl2-dev libgtk-3-dev libepoxy-dev libmpg123-dev libkissfft-dev
  libbullet-dev libstb-dev nlohmann-json3-dev libtinyxml2-dev libtinygltf-dev
  # the dialog draws its check marks from SVG icons
  librsvg2-common shared-mime-info
  # build-time content tools
  glslang-tools lame fonts-dejavu-core
  # the glTF validator of the model tests runs on node (installed from npm below;
  # Debian's npm comes separately, a node of another origin may bring its own)
  nodejs
  # tests: GoogleTest, benchmarks, a virtual X server with Mesa's software GL, X inspection
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-utils xdotool libgl1-mesa-dri libglx-mesa0 mesa-utils
  x11-apps x11-xserver-utils imagemagick sox strace
  # a window manager for the end-to-end minimise case (a bare X server iconifies nothing)
  openbox
  # numbers stay in the C locale under a comma-decimal user locale
  locales-all
  # loudness and spectrum reports of the rendered music, and their plots
  ffmpeg gnuplot-nox
)

if [ "${1:-}" = "--fuzz" ]; then
  packages+=(clang libclang-rt-14-dev)
fi

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive

# Test tools from npm, kept in the project's own .test-tools/ (ignored by git).
install_npm_tools() {
  local root
  if ! command -v npm >/dev/null; then
    "${sudo[@]}" apt-get install -y -q --no-install-recommends npm
  fi
  root="$(cd "$(dirname "$0")/.." && pwd)"
  if [ ! -f "$root/.test-tools/node_modules/gltf-validator/package.json" ]; then
    npm install --silent --no-audit --no-fund --prefix "$root/.test-tools" gltf-validator@2.0.0-dev.3.10
  fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
else
  "${sudo[@]}" apt-get update -q
  "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
install_npm_tools
