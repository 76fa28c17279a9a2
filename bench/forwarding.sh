#!/usr/bin/env bash
# Measures how long a launcher takes that hands its arguments to the running
# app (singleInstance=forward) and prints one Markdown table: natively, the
# win64 exe under wine64 and the win32 exe under 32-bit Wine where those trees
# have been built. Beside it, a launch of the same folder without the item,
# whose app (the stand-in java) ends at once, a static hello world started the
# same way (the floor of any start), and the forwarding floor: that hello
# world loading user32 and calling AllowSetForegroundWindow, which forwarding
# cannot skip. Rounds alternate between the programs, so a change in the
# machine's load touches each alike.
# Usage: bench/forwarding.sh    (BENCH_REPS, BENCH_WINE_REPS override the counts)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
cmake --preset native >/dev/null
cmake --build --preset native --target launcher java_stub hello_floor foreground_floor >/dev/null
for preset in win64 win32; do
    if [[ -f build/$preset/CMakeCache.txt ]]; then
        cmake --preset $preset >/dev/null
        cmake --build --preset $preset --target launcher java_stub_win hello_floor foreground_floor >/dev/null
    fi
done
work="$(mktemp -d "${TMPDIR:-/tmp}/launcher-forward-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

python3 - "$root" "$work" "${BENCH_REPS:-300}" "${BENCH_WINE_REPS:-40}" <<'PY'
import os, shutil, statistics, subprocess, sys, time
root, work, reps, wine_reps = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
sys.path.insert(0, os.path.join(root, "tests", "windows"))
import wine_env

BOOT = ('<boot><item key="java" value="${APP_DIR}java.exe"/><item key="main" value="Main"/>%s</boot>')
ITEM = '<item key="singleInstance" value="forward"/>'


def lay_out(folder, launcher, stub, exe_name):
    os.makedirs(os.path.join(folder, "config"))
    shutil.copy2(launcher, os.path.join(folder, exe_name))
    shutil.copy2(stub, os.path.join(folder, "java.exe"))


def write_boot(folder, item):
    with open(os.path.join(folder, "config", "boot.xml"), "w") as f:
        f.write(BOOT % item)


def timed(command, env, cwd, rounds, between=lambda: None, cpu=None):
    """Wall times in ms, sorted; the process's own CPU time (user and
    system, in ms) goes to cpu, which a loaded machine changes less."""
    times = []
    for _ in range(rounds):
        between()
        start = time.perf_counter()
        process = subprocess.Popen(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(process.pid, 0)
        times.append((time.perf_counter() - start) * 1000)
        process.returncode = os.waitstatus_to_exitcode(status)
        if process.returncode != 0:
            raise RuntimeError("%s ended with %d" % (command, process.returncode))
        if cpu is not None:
            cpu.append((usage.ru_utime + usage.ru_stime) * 1000)
    times.sort()
    return times


def describe(times):
    return "%.2f ms (p10 %.2f, p90 %.2f); %d rounds" % (
        statistics.median(times), times[len(times) // 10], times[len(times) * 9 // 10], len(times))


def inbox_of(folder):
    with open(os.path.join(folder, "calls.log"), "rb") as log:
        for line in log.read().decode("utf-8").splitlines():
            if line.startswith("env=LAUNCHER_INBOX="):
                return line[len("env=LAUNCHER_INBOX="):].replace("\\u005c", "\\")
    raise RuntimeError("the owner's app has no inbox")


def measure(name, launcher, stub, exe_name, command_of, env, rounds, local_path, hello, floor):
    folder = os.path.join(work, name, "app")
    lay_out(folder, launcher, stub, exe_name)
    docs = os.path.join(work, name, "docs")
    os.makedirs(docs)
    write_boot(folder, "")
    alone = timed(command_of(folder), env, docs, rounds)
    os.remove(os.path.join(folder, "calls.log"))
    write_boot(folder, ITEM)
    open(os.path.join(folder, "hold.1"), "w").close()
    owner = subprocess.Popen(command_of(folder), env=env, cwd=docs, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 120
    while not os.path.exists(os.path.join(folder, "calls.log")) or b"pid=" not in open(
            os.path.join(folder, "calls.log"), "rb").read():
        if time.monotonic() > deadline:
            raise RuntimeError("the owner's app did not start")
        time.sleep(0.05)
    inbox = local_path(inbox_of(folder))

    def empty_inbox():
        # As the app does: each request handled and deleted.
        for entry in os.listdir(inbox):
            if entry.endswith(".request"):
                os.remove(os.path.join(inbox, entry))

    forwarding, hellos, floors, forwarding_cpu, floor_cpu = [], [], [], [], []
    for _ in range(rounds):
        forwarding += timed(command_of(folder) + ["月次 報告.myrep"], env, docs, 1, empty_inbox, forwarding_cpu)
        hellos += timed(hello, env, docs, 1)
        floors += timed(floor, env, docs, 1, cpu=floor_cpu)
    for times in (forwarding, hellos, floors):
        times.sort()
    # The app handles the last request too: one left unread would start it once more.
    empty_inbox()
    os.remove(os.path.join(folder, "hold.1"))
    owner.wait(timeout=120)
    calls = open(os.path.join(folder, "calls.log"), "rb").read().count(b"call\n")
    if calls != 1:
        raise RuntimeError("%d apps started while forwarding" % calls)
    shutil.rmtree(inbox, ignore_errors=True)
    ratio = statistics.median(forwarding) / statistics.median(floors)
    fastest = statistics.median(forwarding[:max(1, rounds // 10)]) / statistics.median(floors[:max(1, rounds // 10)])
    return [("forwarding launcher, %s" % name, describe(forwarding)),
            ("forwarding floor (hello world, user32, AllowSetForegroundWindow), %s" % name, describe(floors)),
            ("forwarding / forwarding floor, %s" % name,
             "%.2f (medians); %.2f (fastest tenth); CPU time %.3f / %.3f ms = %.2f (medians)" % (
                 ratio, fastest, statistics.median(forwarding_cpu), statistics.median(floor_cpu),
                 statistics.median(forwarding_cpu) / statistics.median(floor_cpu))),
            ("hello world, %s" % name, describe(hellos)),
            ("forwarding / hello world, %s" % name,
             "%.2f (medians)" % (statistics.median(forwarding) / statistics.median(hellos))),
            ("launch without the item (app ends at once), %s" % name, describe(alone))]


load_before = " ".join(open("/proc/loadavg").read().split()[:3])
rows = []
native_env = dict(os.environ, TMPDIR=work, XDG_RUNTIME_DIR=work)
rows += measure("native", os.path.join(root, "build/native/launcher"),
                os.path.join(root, "build/native/tests/java_stub"), "launcher",
                lambda folder: [os.path.join(folder, "launcher")], native_env, reps, lambda path: path,
                [os.path.join(root, "build/native/bench/hello_floor")],
                [os.path.join(root, "build/native/bench/foreground_floor")])

for bits, wine in (("64", "/usr/lib/wine/wine64"), ("32", "/usr/lib/wine/wine")):
    tree = os.path.join(root, "build/win%s" % bits)
    name = "win%s under %s" % (bits, os.path.basename(wine) if bits == "64" else "32-bit Wine")
    if not os.path.exists(os.path.join(tree, "launcher.exe")) or wine_env.whyUnavailable(wine) is not None:
        rows.append((name, "not measured: build/win%s or %s missing" % (bits, wine)))
        continue
    prefix = os.path.join(tree, "bench-wineprefix")
    wine_env.preparePrefix(wine, prefix)
    try:
        wine_env.mapDrive(prefix, "d", os.path.join(work, name))
        env = dict(wine_env.wineEnvironment(prefix), LC_ALL="C.UTF-8")

        def local(path, prefix=prefix):
            drive, _, rest = path.partition(":\\")
            return os.path.join(prefix, "dosdevices", drive.lower() + ":", *rest.split("\\"))

        rows += measure(name, os.path.join(tree, "launcher.exe"), os.path.join(tree, "tests/windows/java.exe"),
                        "launcher.exe", lambda folder, wine=wine: [wine, "D:\\app\\launcher.exe"], env, wine_reps,
                        local, [wine, os.path.join(tree, "bench/hello_floor.exe")],
                        [wine, os.path.join(tree, "bench/foreground_floor.exe")])
    finally:
        wine_env.stopServer(wine, prefix)

print("Date: %s UTC; load average before the run: %s" % (
    time.strftime("%Y-%m-%d %H:%M", time.gmtime()), load_before))
print()
print("| Measure | Result |")
print("|---|---|")
for measure_name, result in rows:
    print("| %s | %s |" % (measure_name, result))
PY
