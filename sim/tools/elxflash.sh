#!/bin/sh
# Simulated Emulex elxflash.sh, shipped inside the simulated flash kit zip. It
# reads the simulated machine's state under /etc/hbafw-sim/elxflash:
#   adapters   one "MODEL PCIID VID SSID SVID FIRMWARE BOOTCODE" line per adapter
#   query      when present, printed verbatim as the "/q /sysfs" answer instead
#              (a captured answer), until an update with flashed beside it
#   flash      "exit N" (default 0), "signal NAME", "hang SECONDS", "silent"
#   flashed    when present, copied over adapters by an update that exits 0
# It records every update call's arguments in calls. It flashes nothing.
state=/etc/hbafw-sim/elxflash

# activate FLASHED ANSWER: what a successful update makes the next answer.
activate() {
    [ -f "$1" ] || return 0
    cp "$1" "$2"
    rm -f "$state/query"
}

if [ "$1" = "/q" ]; then
    if [ -f "$state/query" ]; then
        cat "$state/query"
        exit 0
    fi
    echo "Emulex elxflash (simulated) - discovery"
    echo ""
    [ -f "$state/adapters" ] || exit 0
    while read -r model pci vid ssid svid firmware boot; do
        [ -n "$model" ] || continue
        echo "HBA=$model, Port Type=FC, Port WWN=10:00:00:00:c9:00:00:01, PCI ID=$pci, VID=$vid, SSID=$ssid, SVID=$svid, Firmware=$firmware, Boot Code=$boot, Status=OK"
        echo "  (driver lpfc, sysfs path /sys/class/scsi_host)"
    done < "$state/adapters"
    exit 0
fi

mkdir -p "$state"
echo "$*" >> "$state/calls"
mode=$(cat "$state/flash" 2>/dev/null || echo "exit 0")
set -- $mode
case "$1" in
    silent) exit 0 ;;
    hang) sleep "$2" ;;
esac
echo "elxflash: updating adapters (stdout)"
echo "elxflash: progress (stderr)" >&2
echo "elxflash: trace (fd 3)" >&3
case "$1" in
    signal) kill -s "$2" $$ ;;
    exit) [ "$2" = 0 ] || exit "$2" ;;
esac
activate "$state/flashed" "$state/adapters"
exit 0
