"""Throwaway application directories for end-to-end runs of the launcher.

An app directory holds the launcher, config/boot.xml, updater/config/boot.xml
and a stand-in java that records every call (working directory and argv) in
calls.log and exits with the codes queued in exit_codes.
"""
import argparse
import os
import shutil
import subprocess
import tempfile
from dataclasses import dataclass, field

BOOT_KEYS = ("java", "-Xmn", "-Xms", "-Xmx", "-cp", "args", "main")

APP_ITEMS = {"java": "${APP_DIR}java_stub", "-Xmn": "16m", "-Xms": "32m", "-Xmx": "64m",
             "-cp": "lib/app.jar", "args": "-Ddemo.mode=test", "main": "demo.App"}
UPDATER_ITEMS = {"java": "${APP_DIR}java_stub", "-Xmn": "8m", "-Xms": "16m", "-Xmx": "32m",
                 "-cp": "updater.jar", "args": "", "main": "demo.Updater"}


def boot_xml(items):
    lines = ['<?xml version="1.0" encoding="UTF-8"?>', "<boot>"]
    lines += ['  <item key="%s" value="%s"/>' % (key, value) for key, value in items.items()]
    lines.append("</boot>")
    return "\n".join(lines) + "\n"


@dataclass
class Call:
    cwd: str
    argv: list = field(default_factory=list)


@dataclass
class Outcome:
    returncode: int
    pid: int
    stdout: list
    boxes: list


class AppDir:
    def __init__(self, launcher, java_stub, name="app"):
        self.base = tempfile.mkdtemp(prefix="launcher-e2e-")
        self.root = os.path.join(self.base, name)
        os.makedirs(self.root)
        self.launcher = os.path.join(self.root, "launcher")
        shutil.copy2(launcher, self.launcher)
        shutil.copy2(java_stub, os.path.join(self.root, "java_stub"))

    def remove(self):
        shutil.rmtree(self.base, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    @property
    def app_dir(self):
        return self.root + "/"

    @property
    def main_boot(self):
        return self.path("config", "boot.xml")

    @property
    def updater_boot(self):
        return self.path("updater", "config", "boot.xml")

    def write(self, relative, content):
        target = self.path(relative)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as out:
            out.write(content.encode() if isinstance(content, str) else content)

    def write_boots(self, app=None, updater=None):
        self.write("config/boot.xml", boot_xml(APP_ITEMS if app is None else app))
        self.write("updater/config/boot.xml", boot_xml(UPDATER_ITEMS if updater is None else updater))

    def queue_exit_codes(self, *codes):
        self.write("exit_codes", "".join("%d\n" % code for code in codes))

    def forget_calls(self):
        if os.path.exists(self.path("calls.log")):
            os.remove(self.path("calls.log"))

    def calls(self):
        try:
            with open(self.path("calls.log"), encoding="utf-8") as log:
                records = log.read().split("call\n")[1:]
        except FileNotFoundError:
            return []
        calls = []
        for record in records:
            lines = record.splitlines()
            calls.append(Call(cwd=lines[0][len("cwd="):], argv=[l[len("arg="):] for l in lines[1:]]))
        return calls

    def run(self, *args, cwd=None):
        # A new session has no controlling terminal, so the debug console
        # cannot take over standard output and every line stays observable.
        process = subprocess.Popen([self.launcher, *args], cwd=cwd or self.base,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, start_new_session=True)
        out, err = process.communicate(timeout=60)
        return Outcome(process.returncode, process.pid,
                       out.decode("utf-8", "surrogateescape").splitlines(),
                       err.decode("utf-8", "surrogateescape").splitlines())


def command_line(app_dir, items):
    get = lambda key: items.get(key, "")
    java = get("java").replace("${APP_DIR}", app_dir).replace("${PARENT_DIR}", app_dir)
    return "%s -Xmn%s -Xms%s -Xmx%s -cp %s %s %s" % (
        java, get("-Xmn"), get("-Xms"), get("-Xmx"), get("-cp"), get("args"), get("main"))


def launch_lines(config_label, boot_path, current_dir, java_command_line, pid, ret_code):
    """The diagnostic lines of one launch whose child ran and ended."""
    return ["%s=%s" % (config_label, boot_path), boot_path,
            "currentDir=" + current_dir, "javaCommandLine=" + java_command_line,
            "execute:processId==%d" % pid, "result=WAIT_OBJECT_0",
            "launchJava:retCode=%d" % ret_code]


def launcher_options():
    """The absolute --launcher and --java-stub paths, and the arguments left for unittest."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--java-stub", required=True)
    options, rest = parser.parse_known_args()
    return os.path.abspath(options.launcher), os.path.abspath(options.java_stub), rest
