#!/usr/bin/env bash
# Sets up a fresh machine and runs every test: packages, then for each preset
# configure, build and CTest. Arguments go to every ctest call.
#
# ZELBO_TEST_PRESETS picks the presets (default: "default asan tsan", what CI
# runs: the release build, then AddressSanitizer + UBSan, then ThreadSanitizer);
# e.g. ZELBO_TEST_PRESETS=default scripts/test.sh -R drive
#
# The tests spend most of their wall time waiting on the simulated board, so
# the next preset is built while the previous one's tests run. The build runs
# at the idle scheduling class (the compilers only get what the tests leave),
# so the tests see the machine as if it were quiet. ZELBO_TEST_OVERLAP=0 runs
# everything one after the other.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

read -r -a presets <<<"${ZELBO_TEST_PRESETS:-default asan tsan}"
overlap=${ZELBO_TEST_OVERLAP:-1}
idle=()
if command -v chrt >/dev/null && chrt --idle 0 true 2>/dev/null; then
  idle=(chrt --idle 0)
elif command -v nice >/dev/null; then
  idle=(nice -n 19)
fi
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
failed=()

build() { # preset [runner...]
  local preset=$1
  shift
  local start=$SECONDS
  echo "==== $preset: configure, build"
  if "$@" cmake --preset "$preset" >/dev/null && "$@" cmake --build --preset "$preset"; then
    echo "==== $preset: built in $((SECONDS - start)) s"
    return 0
  fi
  echo "==== $preset: the build failed"
  return 1
}

run_tests() { # preset log [ctest arguments...]
  local preset=$1 log=$2
  shift 2
  local start=$SECONDS rc=0
  ctest --preset "$preset" "$@" >"$log" 2>&1 || rc=$?
  echo "==== $preset: tests ran in $((SECONDS - start)) s" >>"$log"
  return $rc
}

built=()
if build "${presets[0]}"; then built[0]=1; else built[0]=0; failed+=("${presets[0]}"); fi
for ((i = 0; i < ${#presets[@]}; i++)); do
  preset=${presets[$i]}
  next=$((i + 1))
  pid=
  if [ "${built[$i]}" = 1 ]; then
    echo "==== $preset: test"
    if [ "$overlap" = 1 ] && [ $next -lt ${#presets[@]} ]; then
      run_tests "$preset" "$logs/$preset.log" "$@" &
      pid=$!
    else
      run_tests "$preset" "$logs/$preset.log" "$@" || failed+=("$preset")
      cat "$logs/$preset.log"
    fi
  fi
  if [ $next -lt ${#presets[@]} ]; then
    runner=()
    [ -n "$pid" ] && runner=("${idle[@]}")
    if build "${presets[$next]}" "${runner[@]}"; then built[$next]=1; else built[$next]=0; failed+=("${presets[$next]}"); fi
  fi
  if [ -n "$pid" ]; then
    wait "$pid" || failed+=("$preset")
    cat "$logs/$preset.log"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "failed: ${failed[*]}"
  exit 1
fi
