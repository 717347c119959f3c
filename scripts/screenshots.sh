#!/usr/bin/env bash
# Renders every window built so far offscreen into PNG files under
# build/<preset>/screenshots, for review. Uses a private settings folder, so
# the user's own settings are neither read nor changed.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${NULLIFEX_PRESET:-default}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target nfx_screenshots
out="build/$preset/screenshots"
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
mkdir -p "$out" "$home/config" "$home/runtime"
chmod 700 "$home/runtime"
# The demo floppy, mapped as A:, for the sector viewer's shots.
XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" scripts/make-demo.sh
XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home/runtime" QT_QPA_PLATFORM=offscreen \
  "build/$preset/app/nfx_screenshots" "$out" 2> >(grep -v -e 'does not support' >&2)
echo "Screenshots in $out"
