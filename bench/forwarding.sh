#!/usr/bin/env bash
# Measures how long a launcher takes that hands its arguments to the running
# app (singleInstance=forward) and prints one Markdown table: natively, and the
# win64 exe under wine64 where that tree has been built. Beside it, a launch of
# the same folder without the item, whose app (the stand-in java) ends at once,
# and a static hello world started the same way: the floor of any start.
# Usage: bench/forwarding.sh    (BENCH_REPS, BENCH_WINE_REPS override the counts)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
cmake --preset native >/dev/null
cmake --build --preset native --target launcher java_stub hello_floor >/dev/null
if [[ -f build/win64/CMakeCache.txt ]]; then
    cmake --build --preset win64 --target launcher java_stub_win hello_floor >/dev/null
fi
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


def timed(command, env, cwd, rounds, between=lambda: None):
    times = []
    for _ in range(rounds):
        between()
        start = time.perf_counter()
        subprocess.run(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True)
        times.append((time.perf_counter() - start) * 1000)
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


def measure(name, launcher, stub, exe_name, command_of, env, rounds, local_path, hello):
    folder = os.path.join(work, name, "app")
    lay_out(folder, launcher, stub, exe_name)
    docs = os.path.join(work, name, "docs")
    os.makedirs(docs)
    write_boot(folder, "")
    alone = timed(command_of(folder), env, docs, rounds)
    floor = timed(hello, env, docs, rounds)
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

    forwarding = timed(command_of(folder) + ["月次 報告.myrep"], env, docs, rounds, empty_inbox)
    os.remove(os.path.join(folder, "hold.1"))
    owner.wait(timeout=120)
    calls = open(os.path.join(folder, "calls.log"), "rb").read().count(b"call\n")
    if calls != 1:
        raise RuntimeError("%d apps started while forwarding" % calls)
    shutil.rmtree(inbox, ignore_errors=True)
    return [("forwarding launcher, %s" % name, describe(forwarding)),
            ("launch without the item (app ends at once), %s" % name, describe(alone)),
            ("hello world, %s" % name, describe(floor))]


rows = []
native_env = dict(os.environ, TMPDIR=work, XDG_RUNTIME_DIR=work)
rows += measure("native", os.path.join(root, "build/native/launcher"),
                os.path.join(root, "build/native/tests/java_stub"), "launcher",
                lambda folder: [os.path.join(folder, "launcher")], native_env, reps, lambda path: path,
                [os.path.join(root, "build/native/bench/hello_floor")])

wine = "/usr/lib/wine/wine64"
win64 = os.path.join(root, "build/win64/launcher.exe")
if os.path.exists(win64) and wine_env.whyUnavailable(wine) is None:
    prefix = os.path.join(root, "build/win64/bench-wineprefix")
    wine_env.preparePrefix(wine, prefix)
    try:
        wine_env.mapDrive(prefix, "d", os.path.join(work, "win64 under wine64"))
        env = dict(wine_env.wineEnvironment(prefix), LC_ALL="C.UTF-8")

        def local(path):
            drive, _, rest = path.partition(":\\")
            return os.path.join(prefix, "dosdevices", drive.lower() + ":", *rest.split("\\"))

        rows += measure("win64 under wine64", win64, os.path.join(root, "build/win64/tests/windows/java.exe"),
                        "launcher.exe", lambda folder: [wine, "D:\\app\\launcher.exe"], env, wine_reps, local,
                        [wine, os.path.join(root, "build/win64/bench/hello_floor.exe")])
    finally:
        wine_env.stopServer(wine, prefix)
else:
    rows.append(("win64 under wine64", "not measured: build/win64 or wine64 missing"))

print("Date: %s UTC; load average before the run: %s" % (
    time.strftime("%Y-%m-%d %H:%M", time.gmtime()), " ".join(open("/proc/loadavg").read().split()[:3])))
print()
print("| Measure | Result |")
print("|---|---|")
for measure_name, result in rows:
    print("| %s | %s |" % (measure_name, result))
PY
