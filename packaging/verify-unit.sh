#!/usr/bin/env bash
# Checks the systemd unit with systemd-analyze verify: verify-unit.sh UNIT BINARY.
# Exit status 0 clean, 1 any complaint about the unit, 77 (skipped) without systemd-analyze.
# The unit runs the installed /usr/local/bin/KavroServer; the check runs on a copy that names BINARY
# instead, so that it passes on a machine where the caster is not installed yet.
set -euo pipefail
unit=$1
binary=$2
if ! command -v systemd-analyze > /dev/null; then
  echo "systemd-analyze not found: skipped"
  exit 77
fi
dir=$(mktemp -d /tmp/kavro-unit.XXXXXX)
trap 'rm -rf "$dir"' EXIT
name=$(basename "$unit")
sed "s#^ExecStart=/usr/local/bin/KavroServer #ExecStart=$binary #" "$unit" > "$dir/$name"
if ! grep -q "^ExecStart=$binary --dir /var/lib/kavro$" "$dir/$name"; then
  echo "$unit: ExecStart is not /usr/local/bin/KavroServer --dir /var/lib/kavro"
  exit 1
fi
status=0
out=$(systemd-analyze verify "$dir/$name" 2>&1) || status=$?
echo "$out"
# Complaints about other units of the machine are not this unit's.
if [ "$status" -ne 0 ] || grep -q "$name" <<< "$out"; then
  exit 1
fi
