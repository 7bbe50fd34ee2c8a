#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each under the fuzz preset (libFuzzer,
# clang), one after the other, and prints executions and findings per target.
#
#   scripts/fuzz.sh 600
#   scripts/fuzz.sh 600 'settings|step_list'   # only the targets the pattern matches
#   scripts/fuzz.sh 60 '!settings|step_list'   # all but those
#
# The pattern is an extended regular expression matched against the target
# names; a leading '!' inverts it.
#
# Each target grows its own working corpus in build/fuzz/fuzz-corpus/<target>
# (seeded from its checked-in corpus, which it never writes to); findings land
# in build/fuzz/findings/<target>/. A finding is mended, then its input is
# added to the target's checked-in corpus, where every CTest run replays it.
set -euo pipefail
seconds=${1:?usage: scripts/fuzz.sh SECONDS [PATTERN]}
pattern=${2:-}
invert=0
if [ "${pattern#!}" != "$pattern" ]; then
  invert=1
  pattern=${pattern#!}
fi
cd "$(dirname "$0")/.."
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"${FUZZ_BUILD_JOBS:-2}" >/dev/null

build=build/fuzz
total_findings=0
printf '%-28s %12s %10s %8s\n' target executions exec/s findings
for entry in "$build"/fuzz-targets/*; do
  name=$(basename "$entry")
  [ -x "$build/bin/$name" ] || continue # listed by an older configuration
  if [ -n "$pattern" ]; then
    matched=0
    echo "$name" | grep -Eq -- "$pattern" && matched=1
    [ "$matched" -ne "$invert" ] || continue
  fi
  seeds=$(cat "$entry")
  work="$build/fuzz-corpus/$name"
  findings="$build/findings/$name"
  mkdir -p "$work" "$findings"
  log="$build/findings/$name.log"
  args=(-max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048
        -artifact_prefix="$findings/" "$work")
  [ -n "$seeds" ] && [ -d "$seeds" ] && args+=("$seeds")
  before=$(find "$findings" -type f | wc -l)
  "$build/bin/$name" "${args[@]}" >"$log" 2>&1 || true
  after=$(find "$findings" -type f | wc -l)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  found=$((after - before))
  total_findings=$((total_findings + found))
  printf '%-28s %12s %10s %8s\n' "$name" "${runs:-?}" "${rate:-?}" "$found"
done
echo "findings in all: $total_findings (inputs under $build/findings/)"
[ "$total_findings" -eq 0 ]
