#!/usr/bin/env bash
# Sets up, builds and runs every test. With "asan" as argument the tests run
# in the AddressSanitizer + UndefinedBehaviorSanitizer build instead.
set -euo pipefail
cd "$(dirname "$0")/.."

preset="${1:-release}"
bash scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" -j "$(nproc)"
