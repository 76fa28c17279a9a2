#!/usr/bin/env bash
# Builds what a user downloads and packs it into OUT (default build/release/):
#   launcher-VERSION-win32.zip            launcher.exe (32-bit), bootcheck.exe, seticon.exe,
#                                         update.exe
#   launcher-VERSION-linux-x86_64.tar.gz  launcher, bootcheck, seticon, update, makesetup and
#                                         the launcher.exe and update.exe makesetup packs
# each with the sample app folder MyApp/, README.txt (the guide, README.md)
# and SHA256SUMS, under one top folder. As a check, the packed makesetup
# builds an installer of the sample folder (with stand-ins for the JRE and the
# jars), and one with update.exe in place of its updater; none is shipped. It
# needs makensis (the nsis package). Two runs from the same commit give
# byte-identical archives: file times are the commit's time (or
# SOURCE_DATE_EPOCH), owners 0, order by name.
#
# Usage: scripts/release.sh [--build-root DIR] [--out DIR]
#   --build-root  where the build trees go (default build/: build/win32 and
#                 build/linux-release)
# LAUNCHER_SIGN_CERT, LAUNCHER_SIGN_KEY and LAUNCHER_SIGN_TIMESTAMP_URL in the
# environment sign the Windows exes before they are packed (docs/windows.md).
# LAUNCHER_ICON=app.png (PNG or ICO) puts that icon on launcher.exe before it
# is signed.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
buildRoot="$root/build"
out="$root/build/release"
while [ $# -gt 0 ]; do
    case "$1" in
        --build-root) buildRoot="$(realpath -m "$2")"; shift 2 ;;
        --out) out="$(realpath -m "$2")"; shift 2 ;;
        *) echo "usage: $0 [--build-root DIR] [--out DIR]" >&2; exit 2 ;;
    esac
done

icon=()
if [ -n "${LAUNCHER_ICON:-}" ]; then
    [ -f "$LAUNCHER_ICON" ] || { echo "LAUNCHER_ICON: $LAUNCHER_ICON is not a file" >&2; exit 2; }
    icon=("-DLAUNCHER_ICON=$(realpath "$LAUNCHER_ICON")")
fi

cd "$root"  # cmake finds the presets here
export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}"
export TZ=UTC  # zip stores local times
export LC_ALL=C  # sort order

win32="$buildRoot/win32"
linux="$buildRoot/linux-release"

signing=()
if [ -n "${LAUNCHER_SIGN_CERT:-}" ] || [ -n "${LAUNCHER_SIGN_KEY:-}" ]; then
    signing=("-DLAUNCHER_SIGN_CERT=${LAUNCHER_SIGN_CERT:-}" "-DLAUNCHER_SIGN_KEY=${LAUNCHER_SIGN_KEY:-}"
             "-DLAUNCHER_SIGN_TIMESTAMP_URL=${LAUNCHER_SIGN_TIMESTAMP_URL:-}")
fi
# Release flags, and no build folder inside the binaries. First, as the Linux
# seticon also sets a vendor's icon on the Windows launcher.
echo "Building the Linux binaries in $linux"
cmake --preset native -B "$linux" -DCMAKE_BUILD_TYPE=Release \
    "-DCMAKE_CXX_FLAGS=-ffile-prefix-map=$root=. -ffile-prefix-map=$linux=." >/dev/null
cmake --build "$linux" --target launcher bootcheck seticon update makesetup -j 2 >/dev/null

echo "Building the Windows exes in $win32"
cmake --preset win32 -B "$win32" "${signing[@]}" "${icon[@]}" "-DLAUNCHER_HOST_SETICON=$linux/seticon/seticon" >/dev/null
cmake --build "$win32" --target shipped_exes -j 2 >/dev/null

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$win32/CMakeCache.txt")"
[ -n "$version" ] || { echo "no project version in $win32/CMakeCache.txt" >&2; exit 1; }

staging="$(mktemp -d)"
trap 'rm -rf "$staging"' EXIT
mkdir -p "$out"

# stage TOP SAMPLE_DIR EXE...: lays out $staging/TOP with the exes, the sample
# app folder and README.txt, modes fixed.
stage() {
    local top="$staging/$1" sample="$2"
    shift 2
    mkdir -p "$top"
    for exe in "$@"; do
        cp "$exe" "$top/"
    done
    cp -r "$root/release/$sample/MyApp" "$top/MyApp"
    # The guide itself, under a title with the version.
    { printf 'launcher %s\n==================\n' "$version"; tail -n +2 "$root/README.md"; } >"$top/README.txt"
    find "$top" -type d -exec chmod 755 {} +
    find "$top" -type f -exec chmod 644 {} +
    for exe in "$@"; do
        chmod 755 "$top/$(basename "$exe")"
    done
}

# seal TOP: adds SHA256SUMS of every file and sets all times.
seal() {
    local top="$staging/$1"
    (cd "$top" && find . -type f -printf '%P\n' | sort | xargs -d '\n' sha256sum >"$staging/sums")
    mv "$staging/sums" "$top/SHA256SUMS"
    chmod 644 "$top/SHA256SUMS"
    find "$top" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

winTop="launcher-$version-win32"
stage "$winTop" windows "$win32/launcher.exe" "$win32/bootcheck.exe" "$win32/seticon.exe" "$win32/update.exe"
# Notepad before Windows 10 shows a file without CR as one line.
sed -i 's/$/\r/' "$staging/$winTop/README.txt"
seal "$winTop"
rm -f "$out/$winTop.zip"
(cd "$staging" && find "$winTop" -type f | sort | zip -X -D -q -9 "$out/$winTop.zip" -@)

linuxTop="launcher-$version-linux-x86_64"
strip --strip-all -o "$staging/launcher" "$linux/launcher"
strip --strip-all -o "$staging/bootcheck" "$linux/bootcheck/bootcheck"
strip --strip-all -o "$staging/seticon" "$linux/seticon/seticon"
strip --strip-all -o "$staging/update" "$linux/update/update"
strip --strip-all -o "$staging/makesetup" "$linux/makesetup/makesetup"
stage "$linuxTop" linux "$staging/launcher" "$staging/bootcheck" "$staging/seticon" "$staging/update" \
    "$staging/makesetup" "$win32/launcher.exe" "$win32/update.exe"
seal "$linuxTop"

# The packed makesetup turns a copy of the Windows sample into an installer
# with its own launcher.exe; stand-ins take the place of the JRE and the jars.
check="$staging/check"
cp -r "$root/release/windows/MyApp" "$check"
mkdir -p "$check/jre/bin" "$check/lib"
cp "$win32/launcher.exe" "$check/jre/bin/javaw.exe"
touch "$check/lib/app.jar" "$check/lib/deps.jar" "$check/updater/updater.jar"
echo "Building an installer of the sample with the packed makesetup"
"$staging/$linuxTop/makesetup" "$check" --name MyApp --vendor Example --version "$version" \
    -o "$staging/MyApp-setup.exe" >/dev/null
# And with update.exe, packed from beside it, in place of the sample's updater,
# signed for with a throwaway key.
echo "Building an installer of the sample with update.exe with the packed makesetup"
rm -rf "$check/updater"
"$staging/$linuxTop/makesetup" --new-key "$staging/check-key.pem" >/dev/null
"$staging/$linuxTop/makesetup" "$check" --name MyApp --vendor Example --version "$version" \
    --update-url https://updates.example.com/myapp/ --update-key "$staging/check-key.pem" \
    -o "$staging/MyApp-setup.exe" >/dev/null
rm -rf "$check" "$staging/MyApp-setup.exe" "$staging"/check-key.pem*
tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner --format=gnu \
    -C "$staging" -cf - "$linuxTop" | gzip -n -9 >"$out/$linuxTop.tar.gz"

(cd "$out" && sha256sum "$winTop.zip" "$linuxTop.tar.gz")
