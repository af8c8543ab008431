#!/usr/bin/env bash
# The probe whose output is gone: a reader that leaves (with SIGPIPE ignored, as many shells
# and all of Windows have it) and a full disk end the run at once, with status 1 and one
# line on standard error.
# Called as: probe_output_gone.sh CLI [EMULATOR]
set -uo pipefail
cli=("${@:2}" "$1")
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

modes=(3 sample)
# Under Wine a Unix pipe cannot be peeked at, so it reads as a pressed key and single mode
# ends at once; sweep mode still writes until its reader has gone.
[ $# -gt 1 ] && modes=(sample)
for mode in "${modes[@]}"; do
  # The reader takes one line and goes; the probe must notice at its next write. Its input
  # is a pipe that stays silent, so no key ends single mode.
  status=$( (trap '' PIPE; timeout 20 "${cli[@]}" "$mode" 2>/dev/null < <(sleep 30) |
    head -n 1 >/dev/null; echo "${PIPESTATUS[0]}") )
  [ "$status" = 124 ] && fail "ZarmiteCLI $mode | head -1 ran on after its reader left"
  [ "$status" = 1 ] || fail "ZarmiteCLI $mode | head -1 exited with $status, not 1"
done

if [ -w /dev/full ]; then
  errors=$(timeout 20 "${cli[@]}" 2>&1 >/dev/full)
  status=$?
  [ "$status" = 1 ] || fail "ZarmiteCLI > /dev/full exited with $status, not 1"
  [ "$(printf '%s\n' "$errors" | grep -c 'standard output could not be written')" = 1 ] ||
    fail "ZarmiteCLI > /dev/full said: $errors"
fi

# Output that is written keeps status 0.
timeout 20 "${cli[@]}" </dev/null >/dev/null || fail "a listing into /dev/null exited with $?"

[ "$failures" = 0 ] && echo "probe output gone: all checks passed"
exit "$failures"
