#!/usr/bin/env bash
# Brings apt's package lists up to date as far as the mirrors allow, and never
# fails for an index that does not download: a mirror mid-sync ("File has
# unexpected size ... Mirror sync in progress?") or the index of an
# architecture this job does not need. apt-get update is tried a few times;
# when every try failed, apt goes on with the lists it has, and this script
# prints apt's reason on standard output (nothing when the update worked).
# APT_UPDATE_TRIES (default 3) and APT_UPDATE_PAUSE (seconds, default 5) set
# the retries.
set -euo pipefail
here="$(dirname "$0")"
tries=${APT_UPDATE_TRIES:-3}
pause=${APT_UPDATE_PAUSE:-5}

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
log=$(mktemp)
trap 'rm -f "$log"' EXIT

failure=""
for ((try = 1; try <= tries; try++)); do
    status=0
    $sudo apt-get update -q >"$log" 2>&1 || status=$?
    if [ "$status" -eq 0 ]; then
        exit 0
    fi
    failure=$("$here/apt-reason.sh" "$log")
    failure=${failure:-apt-get update exited with $status}
    echo "apt-get update failed (try $try of $tries): $failure" >&2
    if [ "$try" -lt "$tries" ]; then
        sleep "$pause"
    fi
done
echo "going on with the package lists apt has" >&2
echo "$failure"
