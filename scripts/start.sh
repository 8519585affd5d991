#!/usr/bin/env bash
# Starts the built application from build folder $1 (further arguments go to the
# application). Without a configured machine, the machine simulator is started
# beside it and mapped to port 24 through the settings file, so File > New and
# Scan > Start Scanning show sheets arriving as rows; it stops with the application.
set -euo pipefail
bin="$1"; shift
app="$bin/app/OrvaneCellfeedWizard"
settings="$bin/app/OrvaneSettings.ini"
simulator="$bin/tools/machine-simulator"

# Value of key $2 in section $1 of the settings file (names without regard to case).
ini_value() {
  [ -f "$settings" ] || return 0
  awk -v sec="$(echo "$1" | tr a-z A-Z)" -v key="$(echo "$2" | tr a-z A-Z)" '
    /^[ \t]*\[/ { s = toupper($0); gsub(/^[ \t]*\[|\].*$/, "", s); inside = (s == sec); next }
    inside { k = $0; sub(/=.*/, "", k); gsub(/^[ \t]+|[ \t]+$/, "", k)
             if (toupper(k) == key) { v = $0; sub(/^[^=]*=/, "", v); gsub(/^[ \t]+|[ \t\r]+$/, "", v); print v; exit } }
  ' "$settings"
}

port=$(ini_value Main PortNo)
mapped=""
[ -n "$port" ] && [ "$port" != 0 ] && mapped=$(ini_value Ports "COM$port")
# A port set up for a machine (no mapping, or a mapping to a device that exists)
# means a real machine: start the application alone.
if [ -n "$port" ] && [ "$port" != 0 ] && { [ -z "$mapped" ] || [ -c "$mapped" ]; }; then
  exec "$app" "$@"
fi

echo "No machine configured: starting the machine simulator on port 24 (a sheet every 3 s while scanning)."
out=$(mktemp)
"$simulator" --settings "$settings" --port 24 --interval 3000 </dev/null >"$out" &
sim=$!
trap 'kill $sim 2>/dev/null || true; rm -f "$out"' EXIT
# The first line is the device, printed once the settings file is in place.
for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.1; done
device=$(head -n 1 "$out")
echo "Simulated machine on $device (COM24)."
"$app" "$@"
