#!/usr/bin/env bash
# Lets this machine run the shipped 32-bit launcher.exe: installs Wine's 32-bit
# loader (wine32:i386). Where the kernel cannot run 32-bit x86 programs itself,
# and only when LAUNCHER_WIN32_QEMU=1 asks for it, registers qemu-user for them
# with binfmt_misc: every 32-bit start then takes about a minute, too slow for
# the full suites in one CI run. Needs root. Exits non-zero, with the reason
# the 32-bit suites will give when they skip, when 32-bit Windows programs
# cannot run afterwards.
set -euo pipefail
here="$(dirname "$0")"
root="$(cd "$here/.." && pwd)"

wine32=/usr/lib/wine/wine
qemu=/usr/bin/qemu-i386-static
binfmt=/proc/sys/fs/binfmt_misc
# apt's reason when wine32:i386 could not be installed; the Wine suites quote it.
failure="$root/build/wine32-install-failure.txt"

whyNot() {
    python3 "$root/tests/windows/wine_env.py" --why-not "$wine32"
}
cannotRun() {
    echo "32-bit Windows programs cannot run here: $1" >&2
    exit 1
}

mkdir -p "$(dirname "$failure")"
rm -f "$failure"
added=false
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    added=true
fi
if ! "$here/apt-install.sh" --why "$failure" wine64 wine32:i386 >/dev/null; then
    # Nothing of i386 is installed: leave apt as it was, so no later update
    # waits for an i386 index at all.
    if $added && ! dpkg-query -W -f='${Architecture}\n' | grep -qx i386; then
        dpkg --remove-architecture i386
    fi
fi

reason=$(whyNot)
if [ -z "$reason" ]; then
    echo "32-bit Windows programs run here: the kernel runs 32-bit x86 code itself"
    exit 0
fi
case "$reason" in
    "this kernel refuses 32-bit x86 programs"*) ;;
    *) cannotRun "$reason" ;;
esac
if [[ "${LAUNCHER_WIN32_QEMU:-0}" != 1 ]]; then
    cannotRun "$reason; LAUNCHER_WIN32_QEMU=1 runs them under qemu-user"
fi

# The kernel refuses 32-bit x86 programs (ENOEXEC): hand them to qemu-user.
# Only then: installing qemu-user-static registers it for every 32-bit program,
# which makes each start take about a minute where the kernel needs no help.
"$here/apt-install.sh" qemu-user-static binfmt-support >/dev/null
if [[ ! -e "$binfmt/register" ]]; then
    mount -t binfmt_misc binfmt_misc "$binfmt"
fi
if [[ ! -e "$binfmt/qemu-i386" ]]; then
    # i386 ELF executables and shared objects; F: qemu is opened now, so it
    # also serves programs started in other mount namespaces.
    printf '%s' ':qemu-i386:M::\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
        >"$binfmt/register"
fi

reason=$(whyNot)
if [ -z "$reason" ]; then
    echo "32-bit Windows programs run here under qemu-user emulation (slow: about a minute per process start)"
else
    cannotRun "$reason"
fi
