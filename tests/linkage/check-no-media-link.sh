#!/usr/bin/env bash
# The converter's programs load the media libraries at run time: none of them
# may carry a NEEDED entry for libav* or libsw*.
set -u
status=0
found=0
for program in "$1"/*; do
  [[ -f "$program" && -x "$program" ]] || continue
  readelf -h "$program" >/dev/null 2>&1 || continue
  found=1
  needed=$(readelf -d "$program" | grep NEEDED | grep -E 'lib(av|sw)' || true)
  if [[ -n "$needed" ]]; then
    echo "$program links the media libraries:"; echo "$needed"; status=1
  fi
done
[[ $found -eq 1 ]] || { echo "no programs found in $1"; exit 1; }
exit $status
