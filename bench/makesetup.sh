#!/usr/bin/env bash
# Measures makesetup on an app folder of realistic size and prints the
# results as one Markdown table: the build time, the installer's size beside
# xz -9 of the same folder, and the silent install and uninstall under wine64.
# The folder holds Debian's JRE files (openjdk-17-jre-headless, links
# followed), the stand-in javaw.exe, both boot files and a jar.
# Usage: bench/makesetup.sh    (needs build/native and build/win64 built;
#                               BENCH_MAKESETUP_RUNS overrides the count)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
runs="${BENCH_MAKESETUP_RUNS:-5}"
makesetup="$root/build/native/makesetup/makesetup"
launcher="$root/build/win64/launcher.exe"
stub="$root/build/win64/tests/windows/javaw.exe"
wine=/usr/lib/wine/wine64
jre=/usr/lib/jvm/java-17-openjdk-amd64
for file in "$makesetup" "$launcher" "$stub" "$wine"; do
    [ -x "$file" ] || [ -f "$file" ] || { echo "missing $file: build the native and win64 trees first" >&2; exit 2; }
done

work="$(mktemp -d)"
export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    "$(dirname "$(realpath "$wine")")/wineserver" -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

app="$work/app"
mkdir -p "$app/config" "$app/updater/config" "$app/lib" "$app/jre/bin"
dpkg -L openjdk-17-jre-headless | grep "^$jre/" | while read -r file; do
    if [ -f "$file" ]; then
        mkdir -p "$(dirname "$app/jre/${file#"$jre"/}")"
        cp -L "$file" "$app/jre/${file#"$jre"/}"
    fi
done
cp "$stub" "$app/jre/bin/javaw.exe"
boot() {
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<boot>\n  <item key="java" value="${APP_DIR}jre\\bin\\javaw.exe"/>\n'
    printf '  <item key="-Xmn" value="16m"/>\n  <item key="-Xms" value="64m"/>\n  <item key="-Xmx" value="256m"/>\n  <item key="-cp" value="%s"/>\n  <item key="main" value="%s"/>\n%s</boot>\n' "$@"
}
boot 'lib\*' com.example.Main $'  <item key="launcherArgs" value="append"/>\n' >"$app/config/boot.xml"
boot updater.jar com.example.Updater '' >"$app/updater/config/boot.xml"
(cd "$jre/lib" && zip -q -r -X "$app/lib/app.jar" security) 
cp "$app/lib/app.jar" "$app/updater/updater.jar"
files="$(find "$app" -type f | wc -l)"
bytes="$(find "$app" -type f -printf '%s\n' | awk '{s += $1} END {print s}')"

now() { date +%s.%N; }
median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

times=()
for ((i = 0; i < runs; i++)); do
    rm -f "$work/setup.exe"
    start="$(now)"
    "$makesetup" "$app" --name "月次 アプリ" --vendor "株式会社 例" --version 1.0.0 --launcher "$launcher" \
        --document .myrep=報告書 --arch amd64 -o "$work/setup.exe" >/dev/null
    times+=("$(echo "$(now) - $start" | bc)")
done
build="$(printf '%s\n' "${times[@]}" | median)"
setup="$(stat -c %s "$work/setup.exe")"
xz="$(tar --sort=name -C "$app" -cf - . | xz -9 -T1 | wc -c)"

"$wine" wineboot -i >/dev/null 2>&1
# A folder without blanks: NSIS reads /D= and _?= only unquoted, and Wine
# quotes an argument with a blank.
folder="$WINEPREFIX/drive_c/bench/app"
installs=()
uninstalls=()
for ((i = 0; i < runs; i++)); do
    start="$(now)"
    "$wine" "$work/setup.exe" /S '/D=C:\bench\app'
    installs+=("$(echo "$(now) - $start" | bc)")
    [ -f "$folder/月次 アプリ.exe" ] || { echo "the installer did not install" >&2; exit 1; }
    cp "$folder/uninstall.exe" "$work/uninstall.exe"
    start="$(now)"
    "$wine" "$work/uninstall.exe" /S '_?=C:\bench\app'
    uninstalls+=("$(echo "$(now) - $start" | bc)")
    [ ! -e "$folder" ] || { echo "the uninstaller left $folder" >&2; exit 1; }
done
install="$(printf '%s\n' "${installs[@]}" | median)"
uninstall="$(printf '%s\n' "${uninstalls[@]}" | median)"

echo "Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "Load average before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Machine: $(nproc) CPUs, kernel $(uname -r); makensis $(makensis -VERSION)"
echo
echo "| Measure | Result | Detail |"
echo "|---|---|---|"
printf '| makesetup build time | %.2f s | median of %d runs; %d files, %d bytes (Debian'"'"'s JRE files); amd64 installer, one document type, unsigned |\n' \
    "$build" "$runs" "$files" "$bytes"
printf '| installer size | %d bytes, %.3f x xz -9 | xz -9 of a tar of the same folder: %d bytes; the folder: %d bytes |\n' \
    "$setup" "$(echo "$setup / $xz" | bc -l)" "$xz" "$bytes"
printf '| silent install under wine64 | %.2f s | median of %d runs, setup.exe /S /D=C:\\bench\\app into a new folder |\n' "$install" "$runs"
printf '| silent uninstall under wine64 | %.2f s | median of %d runs, a copy of uninstall.exe /S _?=FOLDER (waits; folder gone) |\n' "$uninstall" "$runs"
