#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the default preset
# and runs every test with CTest. Extra arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
preset="${NULLIFEX_PRESET:-default}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" -j"$(nproc)" "$@"
