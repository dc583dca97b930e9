#!/usr/bin/env bash
# Sets up, builds and runs the built-in demo: a generated frame filtered
# through the module, written to DIR (default: lumafex-demo).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target lumafex lumafex_module
./build/release/lumafex demo "${1:-lumafex-demo}"
