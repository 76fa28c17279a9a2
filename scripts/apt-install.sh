#!/usr/bin/env bash
# Installs those of the given Debian packages that are not installed yet, from
# whatever package lists apt has once scripts/apt-update.sh has done what the
# mirrors allow: an index that fails to download stops nothing. Fails only
# when a wanted package cannot be installed, and then names each such package
# with apt's reason: "could not install PACKAGE: REASON". A foreign-architecture
# package that fails because the two architectures' indexes disagree on a
# Multi-Arch: same library is tried once more with those libraries pinned to a
# version both offer (scripts/apt-multiarch-pins.py says which, and why); the
# pins live in a temporary file given to that one install.
#
# Usage: apt-install.sh [--why FILE] PACKAGE...
#   --why FILE   also writes the "could not install" lines to FILE
set -euo pipefail
here="$(dirname "$0")"

why=""
if [ "${1:-}" = --why ]; then
    why=$2
    shift 2
fi
[ $# -gt 0 ] || { echo "usage: $0 [--why FILE] PACKAGE..." >&2; exit 2; }

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

missing=()
for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -gt 0 ] || exit 0
echo "Installing: ${missing[*]}"

indexFailure=$("$here/apt-update.sh")

log=$(mktemp)
pins=$(mktemp)
trap 'rm -f "$log" "$pins"' EXIT
aptInstall() {
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "$@" 2>&1 | tee "$log"
}
status=0
aptInstall "${missing[@]}" || status=$?
[ "$status" -ne 0 ] || exit 0
if [[ " ${missing[*]}" == *:* ]] && "$here/apt-multiarch-pins.py" "$pins" "${missing[@]}" >&2; then
    status=0
    aptInstall --allow-downgrades -o Dir::Etc::Preferences="$pins" "${missing[@]}" || status=$?
    [ "$status" -ne 0 ] || exit 0
fi
installFailure=$("$here/apt-reason.sh" "$log")

say() {
    local line=$1
    if [ -n "$indexFailure" ]; then
        line+=" (the package lists may be incomplete: apt-get update said: $indexFailure)"
    fi
    echo "$line" >&2
    [ -z "$why" ] || echo "$line" >>"$why"
}

# One package that cannot be installed makes apt refuse them all: ask about
# each alone, so the message names the one to blame.
named=0
for package in "${missing[@]}"; do
    if $sudo apt-get install -s -q --no-install-recommends "$package" >"$log" 2>&1; then
        continue
    fi
    reason=$("$here/apt-reason.sh" "$log")
    say "could not install $package: ${reason:-apt-get gave no reason}"
    named=$((named + 1))
done
if [ "$named" -eq 0 ]; then
    say "could not install ${missing[*]}: ${installFailure:-apt-get install exited with $status}"
fi
exit 1
