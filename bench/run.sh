#!/usr/bin/env bash
# Measures the launcher and prints the results as one Markdown table: launch
# overhead and the ratio to the spawn-and-wait floor (native, and the Windows
# exes under wine where they have been built), update-cycle cost, boot-file
# reading, binary sizes beside a hello world's, and memory and CPU time while
# the launcher waits on a child.
# Usage: bench/run.sh    (BENCH_REPS, BENCH_WINE_REPS, BENCH_CYCLE_RUNS override the counts)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
reps="${BENCH_REPS:-1000}"
wine_reps="${BENCH_WINE_REPS:-100}"
cycle_runs="${BENCH_CYCLE_RUNS:-9}"
cycles=1000

cd "$root"
load_before="$(cut -d' ' -f1-3 /proc/loadavg)"
cmake --preset native >/dev/null
cmake --build --preset native \
    --target launcher bench_child bench_driver boot_file_bench spawn_floor hello_floor >/dev/null
# The Windows exes are measured only where their builds have been set up.
for preset in win32 win64; do
    if [[ -f "build/$preset/CMakeCache.txt" ]]; then
        cmake --build --preset "$preset" --target launcher spawn_floor hello_floor >/dev/null
    fi
done
bin="$root/build/native"
driver="$bin/bench/bench_driver"
work="$(mktemp -d "${TMPDIR:-/tmp}/launcher-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# write_boot FILE JAVA MAIN_CLASS ARGS
write_boot() {
    cat >"$1" <<XML
<boot>
  <item key="java" value="$2"/>
  <item key="-Xmn" value="16m"/>
  <item key="-Xms" value="64m"/>
  <item key="-Xmx" value="256m"/>
  <item key="-cp" value="app.jar"/>
  <item key="args" value="$4"/>
  <item key="main" value="$3"/>
</boot>
XML
}

# make_app DIR LAUNCHER FLOOR CHILD MAIN_CLASS [ARGS]: an app directory whose
# main application and updater are the stand-in child, with the spawn-and-wait
# floor beside the launcher.
make_app() {
    local dir="$1" launcher="$2" floor="$3" child="$4" main_class="$5" args="${6:-}"
    local java="\${APP_DIR}$(basename "$child")"
    mkdir -p "$dir/config" "$dir/updater/config"
    cp "$launcher" "$floor" "$child" "$dir/"
    write_boot "$dir/config/boot.xml" "$java" "$main_class" "$args"
    write_boot "$dir/updater/config/boot.xml" "$java" Updater ""
}

# check_app OUTPUT_FILE COMMAND...: one run must launch the child and see it end with 0.
check_app() {
    local out="$1"
    shift
    if ! timeout 60 "$@" >"$out" 2>"$out.err" || [[ -s "$out.err" ]] ||
        ! grep -q '^launchJava:retCode=0' "$out"; then
        echo "bench: trial run of $* failed:" >&2
        cat "$out" "$out.err" >&2
        exit 1
    fi
}

child_args=(-Xmn16m -Xms64m -Xmx256m -cp app.jar)

make_app "$work/trivial" "$bin/launcher" "$bin/bench/spawn_floor" "$bin/bench/bench_child" Exit0
check_app "$work/trivial.out" "$work/trivial/launcher"
native_overhead="$("$driver" overhead "$reps" native "$work/trivial" \
    -- "$work/trivial/launcher" -- "$work/trivial/bench_child" "${child_args[@]}" Exit0 \
    -- "$work/trivial/spawn_floor" bench_child "${child_args[@]}" Exit0)"

# wine_overhead BITS LOADER WINE_NAME COMPILER: the Windows exe of that width
# under wine against the stand-in child started directly under the same wine,
# with one persistent wine server for both sides so neither pays its start-up.
# Its floor imports KERNEL32 and msvcrt only, the least any Windows exe loads.
wine_overhead() {
    local bits="$1" loader="$2" wine_name="$3" compiler="$4"
    local exe="$root/build/win$bits/launcher.exe" app="$work/wine$bits"
    local floor="$root/build/win$bits/bench/spawn_floor.exe"
    if [[ $bits == 32 && -e /proc/sys/fs/binfmt_misc/qemu-i386 ]]; then
        wine_name+=" on qemu-i386"
    fi
    local label="win$bits exe under $wine_name"
    if [[ ! -f $exe ]]; then
        echo "| launch overhead, $label | not measured | build/win$bits/launcher.exe not built |"
        return
    fi
    if ! "$loader" --version >/dev/null 2>&1; then
        echo "| launch overhead, $label | not measured | $loader cannot run here |"
        return
    fi
    local floor_dlls
    floor_dlls="$("${compiler%g++}objdump" -p "$floor" | awk '/DLL Name:/ { print toupper($3) }' | sort | xargs)"
    if [[ $floor_dlls != "KERNEL32.DLL MSVCRT.DLL" ]]; then
        echo "bench: $floor imports $floor_dlls, not KERNEL32 and msvcrt alone" >&2
        exit 1
    fi
    "$compiler" -O2 -static -o "$work/bench_child$bits.exe" "$root/bench/bench_child.cpp"
    make_app "$app" "$exe" "$floor" "$work/bench_child$bits.exe" Exit0
    # Debian's wine packages put the server beside the loaders, not on PATH.
    wineserver="$(dirname "$loader")/wineserver"
    [[ -x $wineserver ]] || wineserver=wineserver
    export WINEPREFIX="$root/build/bench-wine$bits" WINEARCH="win$bits"
    "$loader" wineboot --init >/dev/null 2>&1
    "$wineserver" --wait
    "$wineserver" --persistent
    check_app "$app.out" "$loader" "$app/launcher.exe"
    "$driver" overhead "$wine_reps" "$label" "$app" -- "$loader" "$app/launcher.exe" \
        -- "$loader" "$app/bench_child$bits.exe" "${child_args[@]}" Exit0 \
        -- "$loader" "$app/spawn_floor.exe" "bench_child$bits.exe" "${child_args[@]}" Exit0 |
        sed "s#^| launcher / spawn-and-wait floor, $label |#| win$bits exe / kernel32-only floor under $wine_name |#"
    "$wineserver" --kill
    unset WINEPREFIX
}

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver=wineserver
trap 'if [[ -n ${WINEPREFIX:-} ]]; then "$wineserver" --kill || true; fi; rm -rf "$work"' EXIT
wine_overhead 64 "$(command -v wine64 || echo /usr/lib/wine/wine64)" wine64 x86_64-w64-mingw32-g++ \
    >"$work/wine64.row"
wine_overhead 32 /usr/lib/wine/wine "32-bit Wine" i686-w64-mingw32-g++ >"$work/wine32.row"

make_app "$work/cycle" "$bin/launcher" "$bin/bench/spawn_floor" "$bin/bench/bench_child" Main
cycle_cost="$("$driver" cycles "$cycle_runs" "$cycles" "$work/cycle/cycles_left" "$work/cycle" \
    -- "$work/cycle/launcher" \
    -- "$work/cycle/bench_child" "${child_args[@]}" Main \
    -- "$work/cycle/bench_child" "${child_args[@]}" Updater)"

make_app "$work/sleep" "$bin/launcher" "$bin/bench/spawn_floor" "$bin/bench/bench_child" Sleep 3000
waiting="$("$driver" waiting 2000 "$work/sleep" -- "$work/sleep/launcher" \
    -- "$work/sleep/spawn_floor" bench_child "${child_args[@]}" 3000 Sleep)"

"$bin/bench/boot_file_bench" --benchmark_out="$work/boot.csv" --benchmark_out_format=csv \
    >/dev/null 2>&1
boot_rows="$(awk -F, '/^"readBootFile/ {
    items = $1; sub(/.*:/, "", items); sub(/"/, "", items)
    printf "| boot file read + command line, %s unrelated items | %.1f us CPU | %.1f us wall; %s iterations; %d-byte file |\n",
        items, $4 / 1000, $3 / 1000, $2, $NF }' "$work/boot.csv")"

# stripped_bytes STRIP FILE: the file's size after strip, empty if it is not built.
stripped_bytes() {
    if [[ -f "$2" ]]; then
        "$1" -o "$work/stripped" "$2"
        stat -c %s "$work/stripped"
    fi
}

# size_row LABEL STRIP DIR BINARY: the binary's stripped size beside those of
# the hello world and the spawn-and-wait floor built in the same tree.
size_row() {
    local label="$1" strip="$2" dir="$3" binary="$4" ext="${4##*.}"
    [[ $ext == exe ]] && ext=.exe || ext=
    local size hello floor
    size="$(stripped_bytes "$strip" "$dir/$binary")"
    hello="$(stripped_bytes "$strip" "$dir/bench/hello_floor$ext")"
    floor="$(stripped_bytes "$strip" "$dir/bench/spawn_floor$ext")"
    if [[ -z $size ]]; then
        echo "| size, stripped: $label | not built | ${dir#"$root/"}/$binary |"
    else
        echo "| size, stripped: $label | $size bytes, $(awk -v a="$size" -v b="$hello" \
            'BEGIN { printf "%.3f", a / b }') x hello world | ${dir#"$root/"}/$binary;" \
            "static std::cout hello world $hello bytes, spawn-and-wait floor $floor bytes" \
            "(same compiler and flags) |"
    fi
}

echo "Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "Load average before the run: $load_before"
echo "Machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), kernel $(uname -r)"
echo
echo "| Measure | Result | Detail |"
echo "|---|---|---|"
echo "$native_overhead"
cat "$work/wine64.row" "$work/wine32.row"
echo "$cycle_cost"
echo "$boot_rows"
size_row "32-bit exe" i686-w64-mingw32-strip "$root/build/win32" launcher.exe
size_row "64-bit exe" x86_64-w64-mingw32-strip "$root/build/win64" launcher.exe
size_row "native binary ($(uname -m))" strip "$bin" launcher
echo "$waiting"
