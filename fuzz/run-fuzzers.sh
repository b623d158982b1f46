#!/usr/bin/env bash
# Runs every libFuzzer target of a build for a while and fails on a crash,
# a hang, a leak or an input that runs out of memory.
#
#   fuzz/run-fuzzers.sh BUILD_DIR [SECONDS] [TARGET...]
#
# BUILD_DIR was configured with -DQZ_BUILD_FUZZ=ON and built; the targets,
# their seed folders and dictionaries are read from its fuzz/fuzz-targets.txt
# (written from the table in fuzz/CMakeLists.txt). TARGET names pick some of
# them (scan, file, ...); the default is all. Each runs SECONDS (default 60)
# in a scratch copy of its seeds, so the committed corpus never grows. Up to
# QZ_FUZZ_JOBS targets (default 1) run at once, each on one core. An input
# that fails is kept as BUILD_DIR/fuzz-artifacts/<target>-crash-<sha1> (or
# timeout-, leak-, oom-) and the end of that target's log is printed.
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [SECONDS] [TARGET...]}
seconds=${2:-60}
shift $(($# < 2 ? $# : 2))
list=$build/fuzz/fuzz-targets.txt
[ -f "$list" ] || { echo "$list not found: configure $build with -DQZ_BUILD_FUZZ=ON" >&2; exit 2; }
jobs=${QZ_FUZZ_JOBS:-1}
# One input may take this long under the sanitizers before it counts as a hang.
input_timeout=${QZ_FUZZ_INPUT_TIMEOUT:-25}

artifacts=$(realpath "$build")/fuzz-artifacts
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$artifacts"

# Runs one target; its log goes to $scratch/<name>.log.
run_one() {
  local program=$1 dict=$2 seeds=$3 name
  name=$(basename "$program")
  name=${name#fuzz_}
  mkdir -p "$scratch/$name"
  for folder in $seeds; do cp "$folder"/* "$scratch/$name/"; done
  local args=(-max_total_time="$seconds" -timeout="$input_timeout" -max_len=65536
              -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/$name-")
  [ -f "$dict" ] && args+=(-dict="$dict")
  "$program" "${args[@]}" "$scratch/$name" >"$scratch/$name.log" 2>&1
}

# Prints one line per target from libFuzzer's closing statistics.
summary() {
  local log=$1 name=$2 status=$3 execs rate cov
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  printf '%-8s %s  %s runs, %s exec/s, coverage %s\n' "$name" "$status" "${execs:-?}" \
    "${rate:-?}" "${cov:-?}"
}

pids=() names=()
failed=0
# Waits for the oldest running target and reports it.
reap() {
  local pid=${pids[0]} name=${names[0]} status=ok
  pids=("${pids[@]:1}") names=("${names[@]:1}")
  if ! wait "$pid"; then status=FAILED; failed=1; fi
  summary "$scratch/$name.log" "$name" "$status"
  if [ "$status" != ok ]; then
    echo "---- end of the fuzz_$name log ----"
    tail -60 "$scratch/$name.log"
    echo "----"
  fi
}

ran=0
while IFS='|' read -r program dict seeds; do
  [ -n "$program" ] || continue
  name=$(basename "$program")
  name=${name#fuzz_}
  if [ $# -gt 0 ] && [[ " $* " != *" $name "* ]]; then continue; fi
  [ ${#pids[@]} -lt "$jobs" ] || reap
  run_one "$program" "$dict" "$seeds" &
  pids+=($!) names+=("$name")
  ran=$((ran + 1))
done <"$list"
while [ ${#pids[@]} -gt 0 ]; do reap; done

[ "$ran" -gt 0 ] || { echo "no fuzz target selected" >&2; exit 2; }
if [ "$failed" -ne 0 ]; then
  echo "fuzzing failed; failing inputs are in $artifacts" >&2
  exit 1
fi
echo "$ran fuzz targets ran ${seconds}s each without a failure"
