#!/usr/bin/env bash
# Sets up a fresh machine and runs every test: packages, then for each preset
# configure, build and CTest. Arguments go to every ctest call.
#
# ZELBO_TEST_PRESETS picks the presets (default: "default asan tsan", what CI
# runs: the release build, then AddressSanitizer + UBSan, then ThreadSanitizer);
# e.g. ZELBO_TEST_PRESETS=default scripts/test.sh -R drive
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
failed=()
for preset in ${ZELBO_TEST_PRESETS:-default asan tsan}; do
  echo "==== $preset: configure, build, test"
  start=$SECONDS
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" "$@" || failed+=("$preset")
  echo "==== $preset: $((SECONDS - start)) s"
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "failed: ${failed[*]}"
  exit 1
fi
