"""Update feeds and installed app folders for the updater's tests.

An app is described as {relative path ("/" between names): bytes}. A feed
is written as makesetup --feed writes one, with openssl's command line for
the keys and the signature: manifest.txt in update/feed_manifest.hpp's
form, manifest.sig, files/<sha256 hex>, and versions/<version>/.
"""
import hashlib
import os
import subprocess
import time

DAY = 24 * 3600


def runOpenssl(*args, data=None):
    return subprocess.run(["openssl", *args], input=data, capture_output=True, check=True).stdout


def makeKey(path):
    """A new RSA 3072-bit key at path; returns its public key as PEM text."""
    runOpenssl("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:3072", "-out", path)
    return runOpenssl("pkey", "-in", path, "-pubout")


def sign(keyPath, data):
    """RSA PKCS #1 v1.5 over SHA-256, raw bytes."""
    return runOpenssl("dgst", "-sha256", "-sign", keyPath, data=data)


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def utcText(seconds):
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(seconds))


def manifestText(product, version, files, released=None, expires=None, code=("lib",)):
    """The manifest of files ({path: bytes}) as makesetup writes it."""
    released = int(time.time()) - DAY if released is None else released
    expires = released + 365 * DAY if expires is None else expires
    lines = ["launcher-update 1", "product " + product, "version " + version,
             "released " + utcText(released), "expires " + utcText(expires)]
    lines += ["code " + folder for folder in code]
    lines += ["file %d %s %s" % (len(files[path]), sha256(files[path]), path) for path in sorted(files)]
    return ("\n".join(lines) + "\n").encode("utf-8")


def writeFile(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def writeFeed(folder, text, files, keyPath, signature=None):
    """The feed in folder: the manifest text, its signature by keyPath (or
    the signature given), and each file's bytes under its hash."""
    for data in files.values():
        writeFile(os.path.join(folder, "files", sha256(data)), data)
    signature = sign(keyPath, text) if signature is None else signature
    version = next(line[8:] for line in text.decode("utf-8").split("\n") if line.startswith("version "))
    for below in ("", os.path.join("versions", version)):
        writeFile(os.path.join(folder, below, "manifest.txt"), text)
        writeFile(os.path.join(folder, below, "manifest.sig"), signature)


def bootXml(items):
    rows = "".join('  <item key="%s" value="%s"/>\n' % pair for pair in items)
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<boot>\n%s</boot>\n' % rows).encode("utf-8")


def mainBoot(version):
    """The app's boot file: the stand-in java, which records its arguments,
    so each start shows the version whose boot file it read."""
    return bootXml([("java", "${APP_DIR}java.exe"), ("-Xmx", "64m"), ("-cp", "lib\\app.jar;lib\\util.jar"),
                    ("args", "-Dapp.version=" + version), ("main", "com.example.Main")])


def appFiles(windows, launcher, javaStub, update, publicKey, url, version="1.0.0", jar=b"PK app 1.0.0"):
    """An installed app's package files: the launcher, the stand-in java,
    the jars and the updater with its key and feed URL."""
    program, javaPath = (("updater/update.exe", "${APP_DIR}updater\\update.exe") if windows
                         else ("updater/update", "${APP_DIR}updater/update"))
    return {
        "launcher.exe" if windows else "launcher": readBytes(launcher),
        "java.exe": readBytes(javaStub),
        "config/boot.xml": mainBoot(version),
        "lib/app.jar": jar,
        "lib/util.jar": bytes(range(256)) * 64,
        program: readBytes(update),
        "updater/config/boot.xml": bootXml([("java", javaPath), ("args", "--silent"), ("main", "update")]),
        "updater/update-key.pem": publicKey,
        "updater/update-url.txt": (url + "\n").encode("ascii"),
    }


def layOutApp(root, files, installedText):
    """The installed app folder: its files and the record of the installed
    version (update-installed.txt, which no manifest lists)."""
    for path, data in files.items():
        writeFile(os.path.join(root, *path.split("/")), data)
        if data.startswith(b"\x7fELF"):
            os.chmod(os.path.join(root, *path.split("/")), 0o755)
    writeFile(os.path.join(root, "updater", "update-installed.txt"), installedText)


def readBytes(path):
    with open(path, "rb") as f:
        return f.read()
