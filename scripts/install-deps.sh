#!/usr/bin/env bash
# Installs the Debian packages that are missing for a job: "demo" (build the
# launcher and run the demo) or "test" (everything the test suites need).
set -euo pipefail

# The native build tree holds the tests, the benchmarks and seticon (stb) too, so configuring it
# needs their libraries even for the demo.
demo_packages=(cmake make g++ libboost1.81-dev libboost-filesystem1.81-dev openjdk-17-jdk-headless
    googletest libgtest-dev libbenchmark-dev python3 valgrind libstb-dev)
# The desktop test draws on Xvfb and reads the screen back by OCR; the
# release packs with zip and signs with osslsigncode.
test_packages=("${demo_packages[@]}" python3-pefile
    g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 wine64 dpkg-dev xz-utils
    clang libclang-rt-14-dev locales
    xvfb xdotool x11-utils imagemagick fonts-noto-cjk tesseract-ocr tesseract-ocr-jpn
    zip osslsigncode openssl)

case "${1:-}" in
    demo) wanted=("${demo_packages[@]}") ;;
    test) wanted=("${test_packages[@]}") ;;
    *) echo "usage: $0 demo|test" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
