#!/usr/bin/env bash
# Lets this machine run the shipped 32-bit launcher.exe: installs Wine's 32-bit
# loader (wine32:i386). Where the kernel cannot run 32-bit x86 programs itself,
# and only when LAUNCHER_WIN32_QEMU=1 asks for it, registers qemu-user for them
# with binfmt_misc: every 32-bit start then takes about a minute, too slow for
# the full suites in one CI run. Needs root. Exits non-zero when 32-bit Windows
# programs cannot run afterwards.
set -euo pipefail

wine32=/usr/lib/wine/wine
qemu=/usr/bin/qemu-i386-static
binfmt=/proc/sys/fs/binfmt_misc

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    wine64 wine32:i386 >/dev/null

if "$wine32" --version >/dev/null 2>&1; then
    echo "32-bit Windows programs run here: the kernel runs 32-bit x86 code itself"
    exit 0
fi

if [[ "${LAUNCHER_WIN32_QEMU:-0}" != 1 ]]; then
    echo "this kernel refuses 32-bit x86 programs; LAUNCHER_WIN32_QEMU=1 runs them under qemu-user" >&2
    exit 1
fi

# The kernel refuses 32-bit x86 programs (ENOEXEC): hand them to qemu-user.
# Only then: installing qemu-user-static registers it for every 32-bit program,
# which makes each start take about a minute where the kernel needs no help.
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    qemu-user-static binfmt-support >/dev/null
if [[ ! -e "$binfmt/register" ]]; then
    mount -t binfmt_misc binfmt_misc "$binfmt"
fi
if [[ ! -e "$binfmt/qemu-i386" ]]; then
    # i386 ELF executables and shared objects; F: qemu is opened now, so it
    # also serves programs started in other mount namespaces.
    printf '%s' ':qemu-i386:M::\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
        >"$binfmt/register"
fi

if "$wine32" --version >/dev/null 2>&1; then
    echo "32-bit Windows programs run here under qemu-user emulation (slow: about a minute per process start)"
else
    echo "32-bit Windows programs still cannot run here" >&2
    exit 1
fi
