#!/usr/bin/env bash
# Runs every GoogleTest binary that ctest knows of whole, in one process per
# binary, its tests shuffled and repeated, so a test that leans on what
# another left behind (or on running alone) fails here even though ctest,
# one test per process, passes.
#
#   tests/run-whole-binaries.sh [BUILD_DIR]      (default: build)
#
# The binaries and how to run them come from ctest's own list: tests that
# share a command (the rig wrapper included), environment and working
# directory run together with the union of their filters. KIT_WHOLE_JOBS
# sets how many run at once (default: nproc).
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
build=${1:-build}
jobs=${KIT_WHOLE_JOBS:-$(nproc)}
RS=$'\x1e'
US=$'\x1f'

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kit-whole.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

ctest --test-dir "$build" --show-only=json-v1 >"$scratch/tests.json" || exit 1
cmake -DJSON="$scratch/tests.json" -DOUT="$scratch/plan" -P tests/whole-binaries-plan.cmake || exit 1

# Group the tests: key = working directory, environment, command.
declare -A filters=()
declare -a keys=()
while IFS= read -r line; do
  key=${line%"$US"*}
  filter=${line##*"$US"}
  if [ -z "${filters[$key]+set}" ]; then
    keys+=("$key")
    filters[$key]=$filter
  elif [ -n "${filters[$key]}" ] && [ -n "$filter" ]; then
    filters[$key]+=":$filter"
  else
    filters[$key]=""   # one of them runs the binary whole
  fi
done <"$scratch/plan"

if [ ${#keys[@]} -eq 0 ]; then
  echo "run-whole-binaries: ctest lists no GoogleTest binary in $build" >&2
  exit 1
fi

run_group() {
  local key=$1 filter=$2 log=$3
  local workdir envs cmd
  IFS="$US" read -r workdir envs cmd <<<"$key"
  local -a env_list=() cmd_list=()
  [ -n "$envs" ] && IFS="$RS" read -r -a env_list <<<"$envs"
  IFS="$RS" read -r -a cmd_list <<<"$cmd"
  local -a args=(--gtest_shuffle --gtest_repeat=2)
  [ -n "$filter" ] && args+=("--gtest_filter=$filter")
  (
    echo "== ${env_list[*]} ${cmd_list[*]}"
    cd "${workdir:-.}" && timeout 900 env "${env_list[@]}" "${cmd_list[@]}" "${args[@]}"
  ) >"$log" 2>&1
  echo $? >"$log.rc"
}

index=0
for key in "${keys[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
    wait -n
  done
  log="$scratch/group$index.log"
  run_group "$key" "${filters[$key]}" "$log" &
  index=$((index + 1))
done
wait

failed=0
for ((i = 0; i < index; i++)); do
  log="$scratch/group$i.log"
  if [ "$(cat "$log.rc" 2>/dev/null)" = 0 ]; then
    head -n 1 "$log" | sed 's/^== /passed: /'
  else
    failed=$((failed + 1))
    echo "---- FAILED (whole binary, shuffled) ----"
    cat "$log"
  fi
done
echo "run-whole-binaries: $index groups, $failed failed"
[ "$failed" -eq 0 ]
