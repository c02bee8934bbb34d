# Sourced by the benchmark scripts after they set `name` and `build`: the tools,
# a scratch folder removed at exit, and median timing.
cli=$build/bin/quillfen-cli
loggen=$build/bin/quillfen_loggen
for tool in "$cli" "$loggen" /usr/bin/time; do
  [[ -x $tool ]] || { echo "$name: $tool is missing (build the bench preset first)" >&2; exit 2; }
done
command -v jq >/dev/null || { echo "$name: jq is not installed" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/quillfen-$name.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Runs a command `runs` times; prints the median wall time (s) and the highest peak RSS (KiB).
median_of() {
  local i
  : >"$work/times"
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" >"$work/stdout" 2>"$work/stderr" || true
    tail -n 1 "$work/time" >>"$work/times"
  done
  sort -n "$work/times" | awk -v n="$runs" '{ t[NR] = $1; if ($2 > m) m = $2 } END { print t[int((n + 1) / 2)], m }'
}
