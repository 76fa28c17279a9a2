"""The launcher over long runs and with awkward children: thousands of update
cycles that leave nothing behind, children killed by a signal, a child that
leaves a grandchild holding the output, and memcheck through update cycles."""
import argparse
import os
import re
import select
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from app_dir import AppDir  # noqa: E402

LAUNCHER = CHILD = VALGRIND = None
CYCLES = 10000
# The heap settles within the first few cycles (one page more, seen between
# launch 2 and launch 20, never after); a leak keeps growing with the cycles.
WARM_UP = 50
COMPARE_MEMORY = True
UPDATE_FAILED = "Error: 更新で例外が発生しました。戻り値= %d"


def items(main_class, args=""):
    return {"java": "${APP_DIR}java_stub", "-Xmn": "16m", "-Xms": "32m", "-Xmx": "64m",
            "-cp": "app.jar", "args": args, "main": main_class}


def make_app(test, main_class, args="", updater_class="Updater", updater_args=""):
    app = AppDir(LAUNCHER, CHILD)
    test.addCleanup(app.remove)
    app.write_boots(app=items(main_class, args), updater=items(updater_class, updater_args))
    return app


def start(app, stdout):
    # A new session has no controlling terminal, so no debug console can take
    # the output away.
    return subprocess.Popen([app.launcher], cwd=app.base, stdin=subprocess.DEVNULL,
                            stdout=stdout, stderr=subprocess.PIPE, start_new_session=True)


def return_codes(lines):
    return [int(line.split("=", 1)[1]) for line in lines if line.startswith("launchJava:retCode=")]


def is_waiting_for_child(pid):
    with open("/proc/%d/wchan" % pid) as wchan:
        return wchan.read() == "do_wait"


def resources(pid):
    """Open descriptors (number → target) and memory figures of a process.
    The peak (VmHWM) is left out: it keeps the transient pages of process
    creation, which vary from one start to the next."""
    fd_dir = "/proc/%d/fd" % pid
    fds = {int(fd): os.readlink(os.path.join(fd_dir, fd)) for fd in os.listdir(fd_dir)}
    with open("/proc/%d/status" % pid) as status:
        fields = dict(line.split(":", 1) for line in status)
    memory = {key: fields[key].strip() for key in ("VmSize", "VmData", "VmRSS", "RssAnon")}
    return {"fds": fds, "memory": memory}


class LongRun(unittest.TestCase):
    def resources_at_pause(self, launcher, ready, go, launch):
        """Waits for the main application's launch number `launch` to block,
        then measures the launcher, which is waiting for it, and lets it go."""
        deadline = time.monotonic() + 1800
        while not select.select([ready], [], [], 1)[0]:
            if launcher.poll() is not None:
                self.fail("the launcher ended before launch %d: %s"
                          % (launch, launcher.stderr.read().decode("utf-8")))
            self.assertLess(time.monotonic(), deadline, "launch %d never came" % launch)
        self.assertEqual(os.read(ready, 64), b"%d\n" % launch)
        deadline = time.monotonic() + 30
        while not is_waiting_for_child(launcher.pid):
            self.assertLess(time.monotonic(), deadline, "the launcher is not waiting")
            time.sleep(0.001)
        measured = resources(launcher.pid)
        os.write(go, b"g")
        return measured

    def test_descriptors_and_memory_after_the_run_equal_those_after_the_warm_up(self):
        app = make_app(self, "Cycle", "cycles=%d pauses=%d,%d" % (CYCLES, WARM_UP, CYCLES + 1))
        for fifo in ("ready", "go"):
            os.mkfifo(app.path(fifo))
        # Held open for reading and writing, so neither side ever blocks in open().
        ready = os.open(app.path("ready"), os.O_RDWR)
        go = os.open(app.path("go"), os.O_RDWR)
        self.addCleanup(os.close, ready)
        self.addCleanup(os.close, go)

        started = time.monotonic()
        with open(app.path("launcher.out"), "wb") as out:
            launcher = start(app, out)
        self.addCleanup(lambda: launcher.poll() is None and launcher.kill())
        after_warm_up = self.resources_at_pause(launcher, ready, go, WARM_UP)
        after_run = self.resources_at_pause(launcher, ready, go, CYCLES + 1)
        launcher.wait(timeout=60)
        boxes = launcher.stderr.read().decode("utf-8")
        launcher.stderr.close()
        print("%d cycles in %.1f s; after %d cycles %s; after the run %s"
              % (CYCLES, time.monotonic() - started, WARM_UP, after_warm_up, after_run),
              file=sys.stderr)

        self.assertEqual(launcher.returncode, 0)
        self.assertEqual(boxes, "")
        if not COMPARE_MEMORY:
            del after_run["memory"], after_warm_up["memory"]
        self.assertEqual(after_run, after_warm_up)
        with open(app.path("launches")) as launches:
            self.assertEqual(launches.read(), "%d\n" % (CYCLES + 1))
        with open(app.path("launcher.out"), encoding="utf-8") as out:
            lines = out.read().splitlines()
        self.assertEqual(return_codes(lines), [21, 0] * CYCLES + [0])
        self.assertEqual(sum(line.startswith("configPath2=") for line in lines), CYCLES)


class ChildEndings(unittest.TestCase):
    def test_a_child_killed_by_a_signal_ends_with_128_plus_the_signal(self):
        rows = [
            # (case, main class, its args, updater class, its args, return codes, boxes)
            ("main killed by SIGKILL", "Signal", "signal=9", "Updater", "", [137], []),
            ("main killed by SIGTERM", "Signal", "signal=15", "Updater", "", [143], []),
            ("updater killed by SIGUSR1", "Cycle", "cycles=1", "Signal", "signal=10",
             [21, 138], [UPDATE_FAILED % 138]),
        ]
        for case, main_class, args, updater_class, updater_args, codes, boxes in rows:
            with self.subTest(case):
                app = make_app(self, main_class, args, updater_class, updater_args)
                launcher = start(app, subprocess.PIPE)
                out, err = launcher.communicate(timeout=60)
                self.assertEqual(return_codes(out.decode("utf-8").splitlines()), codes)
                self.assertEqual(err.decode("utf-8").splitlines(), boxes)
                self.assertEqual(launcher.returncode, 0)

    def test_a_grandchild_holding_the_output_does_not_hold_up_the_launcher(self):
        app = make_app(self, "Orphan")
        launcher = start(app, subprocess.PIPE)
        self.addCleanup(launcher.stdout.close)
        self.addCleanup(launcher.stderr.close)
        try:
            launcher.wait(timeout=30)
        except subprocess.TimeoutExpired:
            launcher.kill()
            self.fail("the launcher still runs while the grandchild sleeps")
        with open(app.path("grandchild.pid")) as pid_file:
            grandchild = int(pid_file.read())
        # The grandchild must still be there, holding the launcher's output pipe.
        holds_output = os.readlink("/proc/%d/fd/1" % grandchild)
        os.kill(grandchild, signal.SIGKILL)
        self.assertEqual(holds_output, os.readlink("/proc/self/fd/%d" % launcher.stdout.fileno()))

        self.assertEqual(launcher.returncode, 0)
        self.assertEqual(return_codes(launcher.stdout.read().decode("utf-8").splitlines()), [0])
        self.assertEqual(launcher.stderr.read(), b"")


class Memcheck(unittest.TestCase):
    def memcheck(self, cycles):
        app = make_app(self, "Cycle", "cycles=%d" % cycles)
        log = app.path("memcheck.log")
        run = subprocess.run(
            [VALGRIND, "--error-exitcode=99", "--leak-check=full",
             "--show-leak-kinds=definite,indirect", "--errors-for-leak-kinds=definite,indirect",
             "--track-fds=yes", "--log-file=" + log, app.launcher],
            cwd=app.base, stdin=subprocess.DEVNULL, capture_output=True,
            start_new_session=True, timeout=600)
        with open(log) as report:
            text = report.read()
        self.assertEqual(run.returncode, 0, text)
        self.assertEqual(return_codes(run.stdout.decode("utf-8").splitlines()),
                         [21, 0] * cycles + [0])
        self.assertEqual(run.stderr, b"")
        self.assertIn("ERROR SUMMARY: 0 errors from 0 contexts", text)
        for kind in ("definitely", "indirectly"):
            lost = re.search(r"%s lost: ([\d,]+) bytes" % kind, text)
            self.assertEqual(lost.group(1) if lost else "0", "0", text)
        in_use = re.search(r"in use at exit: ([\d,]+ bytes in [\d,]+ blocks)", text).group(1)
        open_fds = re.search(r"FILE DESCRIPTORS: (\d+) open", text).group(1)
        return in_use, open_fds

    def test_update_cycles_under_memcheck_have_no_errors_and_leave_nothing_per_cycle(self):
        one_cycle = self.memcheck(1)
        three_cycles = self.memcheck(3)
        print("memcheck, in use at exit and open descriptors: 1 cycle %s, 3 cycles %s"
              % (one_cycle, three_cycles), file=sys.stderr)
        self.assertEqual(three_cycles, one_cycle)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--child", required=True)
    parser.add_argument("--cycles", type=int, default=CYCLES)
    parser.add_argument("--valgrind", default="valgrind")
    parser.add_argument("--descriptors-only", action="store_true",
                        help="compare only descriptors over the long run (for sanitizer builds)")
    options, rest = parser.parse_known_args()
    LAUNCHER, CHILD, CYCLES, VALGRIND = (os.path.abspath(options.launcher),
                                         os.path.abspath(options.child), options.cycles,
                                         options.valgrind)
    COMPARE_MEMORY = not options.descriptors_only
    unittest.main(argv=[sys.argv[0]] + rest)
