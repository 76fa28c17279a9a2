#!/usr/bin/env bash
# Boost.Filesystem's sources for the MinGW build: no Debian package ships Boost
# built for MinGW, so the Windows build compiles these files itself. They come
# from Debian's boost1.81 source package (the same version as the headers;
# none of Debian's patches touches these files); only libs/filesystem/src is kept.
# Usage: fetch-boost-filesystem-src.sh [DEST]   (default: build/third_party/boost-filesystem)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
dest="${1:-$root/build/third_party/boost-filesystem}"
package=boost1.81

if [[ -f "$dest/src/operations.cpp" ]]; then
    exit 0
fi

source_list=/etc/apt/sources.list.d/debian-src.sources
if ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    cat >"$source_list" <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    apt-get update -qq
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get source --download-only -qq "$package" >/dev/null)

orig="$(ls "$work"/${package}_*.orig.tar.*)"
mkdir -p "$work/tree"
tar -xf "$orig" -C "$work/tree" --strip-components=1 --wildcards '*/libs/filesystem/src/*'

mkdir -p "$(dirname "$dest")"
rm -rf "$dest.tmp"
mkdir -p "$dest.tmp"
cp -r "$work/tree/libs/filesystem/src" "$dest.tmp/src"
rm -rf "$dest"
mv "$dest.tmp" "$dest"
echo "Boost.Filesystem sources in $dest/src"
