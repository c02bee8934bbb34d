#!/usr/bin/env bash
# Peak memory of `quillfen-cli check --file` on a generated log of 48 hours and
# on one of a year (64 times the bytes): only what the period can still reach
# is kept, so both should need about the same.
# Usage: bench/period-memory.sh [BUILD_DIR] [MEBIBYTES_FOR_48_HOURS]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${1:-$here/../build-bench}
mebibytes=${2:-8}
cli=$build/bin/quillfen-cli
loggen=$build/bin/quillfen_loggen
for tool in "$cli" "$loggen" /usr/bin/time; do
  [[ -x $tool ]] || { echo "period-memory: $tool is missing (build the bench preset first)" >&2; exit 2; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/quillfen-period.XXXXXX")
trap 'rm -rf "$work"' EXIT

end=1700000000
"$loggen" "$mebibytes" "$work/days.json" --end $end --hours 48
"$loggen" $((mebibytes * 64)) "$work/year.json" --end $end --hours 8760
for file in days year; do
  for hours in "" "--hours 1"; do
    # shellcheck disable=SC2086 # the hours option is two words or none
    /usr/bin/time -f '%e %M' -o "$work/time" "$cli" check --file "$work/$file.json" $hours >/dev/null 2>&1 || true
    read -r seconds rss < <(tail -n 1 "$work/time")
    printf '%-5s %4d MiB %-11s %6.2f s, peak RSS %4d MiB\n' "$file" \
      $(($(stat -c %s "$work/$file.json") >> 20)) "${hours:-(48 h)}" "$seconds" $((rss / 1024))
  done
done
