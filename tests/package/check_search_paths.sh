#!/usr/bin/env bash
# Fails when an ELF file under the given folders carries an RPATH, or a RUNPATH entry that
# the loader would read relative to the current folder (an empty entry, or a relative
# path): started in a folder that holds a library of the same name, the binary would
# load that one.
set -euo pipefail
status=0
checked=0
while IFS= read -r -d '' file; do
  [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
  checked=$((checked + 1))
  dynamic=$(readelf -d "$file" 2>/dev/null || true)
  if grep -q '(RPATH)' <<<"$dynamic"; then
    echo "$file: carries an RPATH"
    status=1
  fi
  runpath=$(sed -n 's/.*(RUNPATH).*\[\(.*\)\]$/\1/p' <<<"$dynamic")
  [ -n "$runpath" ] || grep -q '(RUNPATH)' <<<"$dynamic" || continue
  # The colon added makes read keep a last empty entry, which it would otherwise drop.
  IFS=: read -r -a entries <<<"$runpath:"
  for entry in "${entries[@]}"; do
    case "$entry" in
      /* | '$ORIGIN' | '$ORIGIN/'*) ;;
      *)
        echo "$file: RUNPATH [$runpath] has the entry '$entry', read from the current folder"
        status=1
        break
        ;;
    esac
  done
done < <(find "$@" -type f -print0)
[ "$checked" -gt 0 ] || { echo "no ELF file found under $*"; exit 1; }
[ "$status" -eq 0 ] && echo "search paths: $checked ELF files, none searches the current folder"
exit "$status"
