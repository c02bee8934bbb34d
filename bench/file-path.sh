#!/usr/bin/env bash
# `quillfen-cli check --file` on the shapes people send, each beside its
# yardstick in the same run: jq for JSON, grep for the text styles, the file's
# size or a fixed bound for memory, and a pipe that never ends.
# Usage: bench/file-path.sh [BUILD_DIR] [SCALE]   SCALE divides every size (default 1)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${1:-$here/../build-bench}
scale=${2:-1}
runs=5
name=file-path
# shellcheck source=bench/common.sh
source "$here/common.sh"
# The generator stamps text at UTC-8; the compact style has no offset and is read in this zone.
export TZ=Etc/GMT+8

# LABEL MEBIBYTES YARDSTICK TIME_TARGET MEMORY_TARGET_MIB, then the generator's options.
row() {
  local label=$1 mebibytes=$(($2 / scale)) yardstick=$3 time_target=$4 memory_target=$5
  shift 5
  local file=$work/log
  "$loggen" "$mebibytes" "$file" "$@"
  cat "$file" >/dev/null # in the page cache for every contender
  local cli_time cli_rss yard_time
  read -r cli_time cli_rss < <(median_of "$cli" check --file "$file" --hours 48)
  head -n 3 "$work/stdout" >"$work/report"
  case $yardstick in
  jq) read -r yard_time _ < <(median_of jq length "$file") ;;
  grep) read -r yard_time _ < <(median_of grep -c com.apple.TimeMachine "$file") ;;
  esac
  echo "== $label ($mebibytes MiB)"
  echo "check --file:  ${cli_time} s, peak RSS $((cli_rss / 1024)) MiB"
  echo "$yardstick:  ${yard_time} s"
  awk -v c="$cli_time" -v y="$yard_time" -v t="$time_target" -v r="$cli_rss" -v m="$memory_target" 'BEGIN {
    ratio = c / y
    if (t == "-")
      printf "time / yardstick: %.2f (no target)\n", ratio
    else
      printf "time / yardstick: %.2f (target <= %s: %s)\n", ratio, t, ratio <= t ? "met" : "MISSED"
    printf "peak RSS: %d MiB (target <= %d MiB: %s)\n", r / 1024, m, r / 1024 <= m ? "met" : "MISSED"
  }'
  sed 's/^/  /' "$work/report"
  rm -f "$file"
}

row "JSON, the benchmark's realistic log" 128 jq 0.05 64
row "default style, a busy Mac's unfiltered log (2 % Time Machine)" 512 grep 2 64 --style default --others 98
row "compact style, a busy Mac's unfiltered log" 1024 grep 2 64 --style compact --others 98
row "ndjson, Time Machine only" 512 grep - 64 --style ndjson
row "JSON of multi-line \"Backup result\" entries" 64 jq - 64 --results

# A pipe without end: the same valid line for ever.
line=$(sed -n 2p <("$loggen" 1 /dev/stdout --style ndjson))
mkfifo "$work/fifo"
(yes "$line" >"$work/fifo" 2>/dev/null || true) &
/usr/bin/time -f '%e %M' -o "$work/time" "$cli" check --file "$work/fifo" >"$work/stdout" 2>&1 || true
kill %1 2>/dev/null || true
read -r seconds rss < <(tail -n 1 "$work/time")
echo "== an endless pipe of one valid line"
echo "ended after ${seconds} s, peak RSS $((rss / 1024)) MiB (target: ends with a message, <= 64 MiB)"
sed 's/^/  /' "$work/stdout"
