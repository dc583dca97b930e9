#!/usr/bin/env bash
# Sets up, builds and runs the built-in demo: a generated frame filtered
# through the module, written to DIR (default: lumafex-demo).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh demo
cmake --preset demo >/dev/null
cmake --build --preset demo --target lumafex lumafex_module
./build/demo/lumafex demo "${1:-lumafex-demo}"
