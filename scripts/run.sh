#!/usr/bin/env bash
# Starts Nullifex on a demo image: installs what is missing, builds, makes a
# 1.44 MB FAT12 floppy image with a few files in the user's data folder once,
# maps it as A: in the drive map, and starts the program (from its build
# folder, where its help page is).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
scripts/make-demo.sh
cd build/default/app
exec ./nullifex
