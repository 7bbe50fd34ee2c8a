#!/usr/bin/env bash
# Sets up a fresh machine and starts zelbo on the simulated board.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
export ZELBO_BOARD=sim
if [[ -x build/default/bin/zelbo ]]; then
  exec build/default/bin/zelbo "$@"
fi
exec build/default/bin/zelbo-board-demo "$@"
