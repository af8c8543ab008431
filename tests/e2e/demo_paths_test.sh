#!/usr/bin/env bash
# The README's main command on the paths it takes on a machine with GPUs, run as a user
# runs it: `bash scripts/demo.sh fake-gpu` (the GPU counter library over a fake machine
# whose clients run) and `bash scripts/demo.sh nvml-stand-in` (the NVML counter library
# over two stand-in NVIDIA GPUs). Each must end with status 0, say which library it used,
# show who uses the GPU with a share, and end with its log.
#
# Called as: demo_paths_test.sh SOURCE_DIR
set -uo pipefail
cd "$1" || exit 1
failed=0
for path in fake-gpu nvml-stand-in; do
  output=$(bash scripts/demo.sh "$path" </dev/null 2>&1)
  status=$?
  # The fake machine's clients run steadily: a share above 0. The stand-in's process
  # gives one sample a call, which a loaded machine's round may find none of: a class
  # listed is what it must show.
  case "$path" in
    fake-gpu) library="through the GPU counter library" share='[1-9]' ;;
    *) library="management library (NVML)" share='[0-9]' ;;
  esac
  processes=$(grep -A 1 '^== zarmite-host --json --processes' <<<"$output" | tail -n 1)
  problems=()
  [ "$status" -eq 0 ] || problems+=("status $status")
  grep -q "^== Using .*$library" <<<"$output" || problems+=("not $library")
  grep -qE '"busy":\{"[a-z_]+":'"$share" <<<"$processes" || problems+=("no process with a share")
  grep -q '^== The first lines of .*Zarmite.log' <<<"$output" || problems+=("no log")
  if [ ${#problems[@]} -gt 0 ]; then
    echo "FAIL: demo.sh $path: ${problems[*]}"
    grep -o '"processes".*' <<<"$processes" | cut -c1-600
    tail -n 12 <<<"$output" | cut -c1-300
    failed=$((failed + 1))
  else
    echo "demo.sh $path: passed"
  fi
done
exit "$failed"
