#!/usr/bin/env bash
# Times `quillfen-cli check --hours 48` on generated 128 MiB logs beside
# `jq length` on the same file, in the same run, and compares the CLI's peak
# memory with the file's size: a log of hourly backups, and one in an error
# storm. Then the same Check on logs ten times apart in their error lines, and
# in skipped backups with reasons of their own, to show its cost is linear.
# Usage: bench/end-to-end.sh [BUILD_DIR] [MEBIBYTES]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${1:-$here/../build-bench}
mebibytes=${2:-128}
runs=5
name=end-to-end
# shellcheck source=bench/common.sh
source "$here/common.sh"

# A fake Mac: `log` prints the generated file for the Time Machine query and an
# empty result for the scheduler queries (on a real Mac those are tiny).
root=$work/root
mkdir -p "$root/usr/bin"
log_file=$work/log.json
cat >"$root/usr/bin/log" <<EOS
#!/bin/sh
if [ "\$3" = 'subsystem == "com.apple.TimeMachine"' ]; then
  exec cat '$log_file'
fi
echo '[]'
EOS
printf '#!/bin/sh\necho 14.5\n' >"$root/usr/bin/sw_vers"
chmod +x "$root/usr/bin/log" "$root/usr/bin/sw_vers"

check() {
  QUILLFEN_TOOL_ROOT=$root median_of "$cli" check --hours 48
}

# The Check against jq on one generated log: LABEL, then the generator's options.
versus_jq() {
  local label=$1
  shift
  "$loggen" "$mebibytes" "$log_file" "$@"
  local file_bytes cli_time cli_rss jq_time jq_rss
  file_bytes=$(stat -c %s "$log_file")
  cat "$log_file" >/dev/null # the file starts in the page cache for every contender
  read -r cli_time cli_rss < <(check)
  cp "$work/stdout" "$work/report.txt"
  read -r jq_time jq_rss < <(median_of jq length "$log_file")

  echo "== $label"
  echo "log file:          $file_bytes bytes ($mebibytes MiB), $(cat "$work/stdout") entries"
  echo "quillfen-cli check: ${cli_time} s, peak RSS $((cli_rss / 1024)) MiB"
  echo "jq length:          ${jq_time} s, peak RSS $((jq_rss / 1024)) MiB"
  awk -v c="$cli_time" -v j="$jq_time" -v r="$cli_rss" -v f="$file_bytes" 'BEGIN {
    ratio = c / j
    memory = r * 1024 / f
    inverse = ratio > 0 ? 1 / ratio : 0
    printf "time ratio cli/jq:  %.3f = 1/%.0f (target <= 1/20: %s)\n", ratio, inverse, ratio <= 0.05 ? "met" : "MISSED"
    printf "peak RSS / file:    %.3f (target <= 0.5: %s)\n", memory, memory <= 0.5 ? "met" : "MISSED"
  }'
  echo "report (first lines):"
  head -n 12 "$work/report.txt" | sed 's/^/  /'
}

# The Check on logs where every other entry is of one kind, N and 10 N of them: LABEL, then the generator's option.
scaling() {
  local label=$1 option=$2 n time10 time100
  for n in 10000 100000; do
    # About 900 bytes an entry; the other entries finish the backup cycles.
    "$loggen" $((n * 1800 >> 20)) "$log_file" "$option" 2
    cat "$log_file" >/dev/null
    read -r time _ < <(check)
    [[ $n == 10000 ]] && time10=$time || time100=$time
  done
  echo "== $label: 10,000 take ${time10} s, 100,000 take ${time100} s"
  awk -v a="$time10" -v b="$time100" 'BEGIN {
    ratio = b / (a > 0.01 ? a : 0.01)
    printf "ten times as many cost %.1f times as long (target <= 12: %s)\n", ratio, ratio <= 12 ? "met" : "MISSED"
  }'
}

versus_jq "hourly backups"
versus_jq "an error storm: one entry in nine an error line, a backup every ten entries" \
  --backups 15000 --errors-every 9
runs=3
scaling "error lines" --errors-every
scaling "skipped backups, each for a reason of its own" --skips-every
