#!/usr/bin/env bash
# Sets up a fresh machine and runs every test: packages, configure, build, CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default "$@"
