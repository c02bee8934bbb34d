#!/usr/bin/env bash
# The fleet formats against the tools that read them, on every bundled sample:
# --json against docs/check.schema.json, --prometheus through `promtool check
# metrics` and through a node_exporter on the loopback, scraped over HTTP.
# Usage: tests/fleet_formats.sh QUILLFEN_CLI
set -euo pipefail
cli="$1"
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
exporter=""
stop() {
  if [ -n "$exporter" ]; then kill "$exporter" 2>/dev/null || true; wait "$exporter" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap stop EXIT
fail() { echo "fleet_formats: $*" >&2; exit 1; }

mkdir "$work/textfile"
port="$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
prometheus-node-exporter --web.listen-address="127.0.0.1:$port" --collector.disable-defaults \
  --collector.textfile --collector.textfile.directory="$work/textfile" --web.disable-exporter-metrics \
  >"$work/exporter.log" 2>&1 &
exporter=$!
for _ in $(seq 50); do
  curl -sf "http://127.0.0.1:$port/metrics" >/dev/null && break
  kill -0 "$exporter" 2>/dev/null || { cat "$work/exporter.log" >&2; fail "node_exporter did not start"; }
  sleep 0.1
done

# One scrape's value of a sample, e.g. value 'quillfen_light'.
value() { grep -m1 "^$1 " "$work/scrape" | cut -d' ' -f2 || true; }

# check NAME EXPECTED_FAILED ARGS…: one Check written as JSON and as metrics, each read back.
prom="$work/textfile/quillfen.prom"
check() {
  local name="$1" failed="$2"
  shift 2
  local status=0
  "$cli" "$@" --json >"$work/$name.json" || status=$?
  promtool check metrics <"$prom" || fail "$name: promtool refuses the metrics"
  curl -sf "http://127.0.0.1:$port/metrics" >"$work/scrape" || fail "$name: no scrape"
  grep -q '^node_textfile_scrape_error 0$' "$work/scrape" || fail "$name: node_exporter could not read the file"
  [ "$(value quillfen_check_failed)" = "$failed" ] || fail "$name: quillfen_check_failed is not $failed"
  if [ "$failed" = 1 ]; then
    [ "$status" = 3 ] && [ -z "$(value quillfen_light)" ] || fail "$name: a failed Check shows a light"
    return
  fi
  [ "$(value quillfen_light)" = "$status" ] || fail "$name: quillfen_light is not the exit status $status"
  [ "$(value quillfen_backups_completed)" = "$(jq .figures.backups.completed "$work/$name.json")" ] ||
    fail "$name: quillfen_backups_completed differs from the JSON"
  [ "$(value quillfen_error_lines)" = "$(jq .figures.errors.count "$work/$name.json")" ] ||
    fail "$name: quillfen_error_lines differs from the JSON"
  for cause in $(jq -r '.causes[].code' "$work/$name.json"); do
    [ "$(value "quillfen_cause{cause=\"$cause\"}")" = 1 ] || fail "$name: the cause $cause is not in the metrics"
  done
}

# The LaunchDaemon's own command, its program and file moved here: a property list that runs the Check hourly.
mapfile -t daemon < <(/usr/bin/python3 - "$root/dist/launchd/org.quillfen.check.plist" <<'EOF'
import plistlib, sys
job = plistlib.load(open(sys.argv[1], "rb"))
assert job["Label"] == "org.quillfen.check" and job["StartInterval"] == 3600 and job["RunAtLoad"], job
print(*job["ProgramArguments"][1:-1], sep="\n")
EOF
) || fail "the LaunchDaemon's property list does not read right"
QUILLFEN_SIM_ARCHIVE="$root/samples/healthy.json" check launchd 0 "${daemon[@]}" "$prom"

for sample in "$root"/samples/*.json "$root"/samples/*.log; do
  name="$(basename "$sample")"
  check "$name" 0 check --prometheus "$prom" --file "$sample"
  case "$sample" in *.json) QUILLFEN_SIM_ARCHIVE="$sample" check "live-$name" 0 check --prometheus "$prom" --hours 48 ;; esac
done
QUILLFEN_SIM_LOG_STATUS=1 check failed-tool 1 check --prometheus "$prom"
QUILLFEN_SIM_LOG_OUTPUT=garbage check unreadable-log 1 check --prometheus "$prom"
# All documents against the schema in one interpreter: its start costs more than a check.
/usr/bin/python3 - "$root/docs/check.schema.json" "$work"/*.json <<'EOF' || fail "a JSON document does not follow the schema"
import json, sys, jsonschema
schema = json.load(open(sys.argv[1]))
jsonschema.Draft202012Validator.check_schema(schema)
for name in sys.argv[2:]:
    jsonschema.validate(json.load(open(name)), schema, cls=jsonschema.Draft202012Validator)
EOF
[ "$(ls "$work/textfile")" = quillfen.prom ] || fail "a temporary file was left beside the metrics"
echo "fleet_formats: every sample read right by the JSON Schema, promtool and node_exporter"
