#!/usr/bin/env bash
# hbafw-inventory's metrics as node_exporter serves them: written over the
# QLogic preset machine into a textfile folder, checked by promtool, served by
# the real node_exporter on 127.0.0.1 and scraped over HTTP; a link at the
# metrics path refused. Then the collection's example alerts (promtool check
# and unit test), the collection's Grafana dashboard (every panel's query
# through a real Prometheus scraping this machine and a current one whose
# restart is due) and the package's systemd units (systemd-analyze verify
# over the installed tree). Exits 77 when a needed program or root is missing.
set -uo pipefail
readonly SOURCE=$1 BUILD=$2
readonly ALERTS=$SOURCE/deploy/ansible/ansible_collections/hbafw/fleet/examples/prometheus-alerts.yml
readonly UNITS=(hbafw-inventory.service hbafw-inventory.timer)
readonly DASHBOARD=$SOURCE/deploy/ansible/ansible_collections/hbafw/fleet/examples/grafana-dashboard.json
readonly NEEDED=(prometheus-node-exporter prometheus promtool curl systemd-analyze python3)

for program in "${NEEDED[@]}"; do
    command -v "$program" >/dev/null || { echo "$program is not installed: skipped"; exit 77; }
done
[[ $(id -u) -eq 0 ]] || { echo "the sandbox needs root: skipped"; exit 77; }

failed=0
fail() { echo "FAIL: $*"; failed=1; }
work=$(mktemp -d)
exporter= current_exporter= prometheus=
cleanup() {
    local pid
    for pid in $exporter $current_exporter $prometheus; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

inventory() { "$SOURCE/sim/sandbox" "$work/machine" "$BUILD/bin/hbafw-inventory" "$@"; }

"$SOURCE/sim/mkmachine" --build "$BUILD" qlogic "$work/machine" >/dev/null || { echo "mkmachine failed"; exit 1; }
mkdir -m 0755 "$work/textfile"
metrics=$work/textfile/hbafw.prom

# Never written through a link, whatever it points at.
echo kept >"$work/elsewhere"
ln -s "$work/elsewhere" "$metrics"
inventory --prometheus "$metrics" 2>"$work/err"
[[ $? -eq 4 && $(cat "$work/elsewhere") == kept && -L $metrics ]] || fail "metrics written through a link"
grep -qx "ERROR! : the metrics file could not be written: $metrics" "$work/err" || fail "no refusal: $(cat "$work/err")"
rm "$metrics"

# The fleet module's history as it writes it; inside the sandbox /var/lib is
# an overlay, so the host's stays untouched.
readonly HISTORY='{"action": "updated", "exit_code": 1, "items": [], "outcome": "failed: not verified", "time": 1796781348}'
(umask 077; "$SOURCE/sim/sandbox" "$work/machine" /bin/sh -c \
    'mkdir -p /var/lib/hbafw && echo "$1" >/var/lib/hbafw/history.jsonl && shift && exec "$@"' \
    sh "$HISTORY" "$BUILD/bin/hbafw-inventory" --json --catalogue reference.xml --prometheus "$metrics" \
    >"$work/inventory.json") || fail "inventory exited $?"
python3 -m json.tool "$work/inventory.json" >/dev/null || fail "the JSON document does not parse"
[[ $(stat -c %a "$metrics") == 644 ]] || fail "metrics mode $(stat -c %a "$metrics"), not 644 whatever the umask"
[[ $(ls -A "$work/textfile") == hbafw.prom ]] || fail "textfile folder holds: $(ls -A "$work/textfile")"
promtool check metrics <"$metrics" || fail "promtool rejects the metrics file"

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
# serve FOLDER PORT: node_exporter serving FOLDER's textfiles only.
serve() {
    prometheus-node-exporter --web.listen-address="127.0.0.1:$2" --collector.disable-defaults \
        --collector.textfile --collector.textfile.directory="$1" 2>>"$work/exporter.log" &
}
port=$(free_port)
serve "$work/textfile" "$port"
exporter=$!
for _ in $(seq 50); do
    curl -fsS "http://127.0.0.1:$port/metrics" >"$work/scraped" 2>/dev/null && break
    sleep 0.2
done
scraped=$(grep -E '^(# (HELP|TYPE) )?(hbafw_|node_textfile_scrape_error)' "$work/scraped")
for expected in \
    'hbafw_adapters 2' \
    'hbafw_update_available{build="hbafw-qlogic",device_id="1077.2532.1077.015d",index="0",type="Multiboot Image"} 1' \
    'hbafw_update_available{build="hbafw-qlogic",device_id="1077.2031.1077.0170",index="1",type="Multiboot Image"} 0' \
    'hbafw_catalogue_discovered{build="hbafw-qlogic"} 1' \
    'hbafw_reboot_required 0' \
    'hbafw_last_run_info{action="updated",outcome="failed: not verified"} 1' \
    'hbafw_last_run_exit_code 1' \
    'hbafw_last_run_timestamp_seconds 1.796781348e+09' \
    'node_textfile_scrape_error 0'; do
    grep -qxF "$expected" <<<"$scraped" || fail "node_exporter does not serve: $expected"
done
grep -q '^hbafw_adapter_info{.*port_wwn="21:00:00:1B:32:0A:0B:0C".*} 1$' <<<"$scraped" ||
    fail "no adapter_info series: $scraped"
promtool check metrics <<<"$scraped" || fail "promtool rejects the scraped hbafw series"

promtool check rules "$ALERTS" >/dev/null || fail "promtool rejects $ALERTS"
sed "s#ALERTS_FILE#$ALERTS#" "$SOURCE/tests/e2e/hbafw_alerts_test.yml" >"$work/alerts_test.yml"
promtool test rules "$work/alerts_test.yml" >/dev/null || fail "the example alerts do not fire as their test says"

# A current server whose restart is due (its own /run in the sandbox).
"$SOURCE/sim/mkmachine" --build "$BUILD" qlogic "$work/current" --set image.0=3.10 >/dev/null || fail "mkmachine failed"
mkdir -m 0755 "$work/textfile-current"
"$SOURCE/sim/sandbox" "$work/current" /bin/sh -c 'mount -t tmpfs run /run && echo hbafw >/run/reboot-required.pkgs &&
    : >/run/reboot-required && exec "$@"' sh "$BUILD/bin/hbafw-inventory" --catalogue reference.xml \
    --prometheus "$work/textfile-current/hbafw.prom" >/dev/null || fail "inventory of the current server exited $?"
current_port=$(free_port)
serve "$work/textfile-current" "$current_port"
current_exporter=$!
web=$(free_port)
printf 'global: {scrape_interval: 1s}\nscrape_configs:\n  - job_name: node\n    static_configs:\n      - targets: ["127.0.0.1:%s", "127.0.0.1:%s"]\n' \
    "$port" "$current_port" >"$work/prometheus.yml"
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/tsdb" \
    --web.listen-address="127.0.0.1:$web" 2>"$work/prometheus.log" &
prometheus=$!
python3 "$SOURCE/tests/e2e/dashboard_queries.py" "$DASHBOARD" "http://127.0.0.1:$web" "127.0.0.1:$port" \
    "127.0.0.1:$current_port" || fail "the dashboard's queries (Prometheus log: $(tail -3 "$work/prometheus.log"))"

# Verified as installed, with the system's own targets beside them; any
# warning (an unknown directive, a bad value) counts.
DESTDIR=$work/root cmake --install "$BUILD" --prefix /usr >/dev/null || fail "install failed"
unit_dir=$work/root/usr/lib/systemd/system
cp /lib/systemd/system/*.target /lib/systemd/system/*.slice "$unit_dir/"
# The service's command is a shell's, which every system has.
mkdir -p "$work/root/bin" && cp -L /bin/sh "$work/root/bin/sh"
verified=$(cd "$work" && systemd-analyze verify --man=no --root="$work/root" "${UNITS[@]/#/$unit_dir/}" 2>&1) ||
    fail "systemd-analyze verify failed"
[[ -z $verified ]] || fail "systemd-analyze verify: $verified"
# The service's own command, run over the machine with a bundle kept beside
# an older one: the newest bundle's catalogue is compared.
command=$(sed -n "s/^ExecStart=\/bin\/sh -c '\(.*\)'$/\1/p" "$unit_dir/hbafw-inventory.service")
[[ $command == *"exec /usr/sbin/hbafw-inventory --prometheus /var/lib/prometheus/node-exporter/hbafw.prom "* ]] ||
    fail "the service does not write node_exporter's textfile folder: $command"
kept=$work/machine/var/lib/hbafw/bundles
for bundle in old:1000000000 new:2000000000; do
    mkdir -p "$kept/${bundle%%:*}"
    cp -a "$work/machine/work/." "$kept/${bundle%%:*}/"
    [[ $bundle == new:* ]] && sed -i 's/3\.10/3.11/' "$kept/new/reference.xml"
    touch -d "@${bundle#*:}" "$kept/${bundle%%:*}/reference.xml"
done
# systemd's $$ is the shell's $; the build's hbafw-inventory stands in for the installed one.
command=${command//\$\$/\$}
command=${command//\/usr\/sbin\/hbafw-inventory/$BUILD/bin/hbafw-inventory}
"$SOURCE/sim/sandbox" "$work/machine" /bin/sh -c \
    'mkdir -p /var/lib/hbafw /var/lib/prometheus/node-exporter && mount --bind "$1" /var/lib/hbafw &&
     /bin/sh -c "$2" && cat /var/lib/prometheus/node-exporter/hbafw.prom' sh "$work/machine/var/lib/hbafw" "$command" \
    >"$work/timer.prom" || fail "the service's command failed"
grep -q '^hbafw_firmware_item_info{.*package_version="3.11".*} 1$' "$work/timer.prom" ||
    fail "the service's command did not compare the newest bundle: $(grep item_info "$work/timer.prom")"
exit "$failed"
