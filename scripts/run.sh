#!/usr/bin/env bash
# Starts Nullifex on a demo image: installs what is missing, builds, makes a
# 1.44 MB FAT12 floppy image with a few files in the user's data folder once,
# maps it as A: in the drive map, and starts the program (from its build
# folder, where its help page is). Without a display it shows the demo drive
# with the headless front end instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
scripts/make-demo.sh
build/default/cli/nullifex-cli drives
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo
  echo "No display: showing the demo drive A: with nullifex-cli instead of the window."
  build/default/cli/nullifex-cli view A: 0
  exit 0
fi
cd build/default/app
exec ./nullifex
