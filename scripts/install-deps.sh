#!/usr/bin/env bash
# Installs the Debian packages that are missing for a job: "demo" (build the
# launcher and run the demo) or "test" (everything the test suites need, and
# the Boost.Filesystem sources the Windows build trees compile).
set -euo pipefail

# The native build tree holds the tests, the benchmarks, seticon (stb) and update (libcurl,
# OpenSSL) too, so configuring it needs their libraries even for the demo.
demo_packages=(cmake make g++ libboost1.81-dev libboost-filesystem1.81-dev openjdk-17-jdk-headless
    googletest libgtest-dev libbenchmark-dev python3 valgrind libstb-dev libcurl4-openssl-dev libssl-dev)
# The desktop test draws on Xvfb and reads the screen back by OCR; the
# release packs with zip and signs with osslsigncode; makesetup builds its
# installers with makensis.
test_packages=("${demo_packages[@]}" python3-pefile
    g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 wine64 dpkg-dev xz-utils
    clang libclang-rt-14-dev locales
    xvfb xdotool x11-utils imagemagick fonts-noto-cjk tesseract-ocr tesseract-ocr-jpn
    zip osslsigncode openssl nsis)

case "${1:-}" in
    demo) wanted=("${demo_packages[@]}") ;;
    test) wanted=("${test_packages[@]}") ;;
    *) echo "usage: $0 demo|test" >&2; exit 2 ;;
esac

here="$(dirname "$0")"
"$here/apt-install.sh" "${wanted[@]}"
[ "$1" = test ] || exit 0

# Boost.Filesystem's sources for the MinGW build: no Debian package ships Boost
# built for MinGW, so the Windows build trees compile these files themselves.
# They come from Debian's boost1.81 source package (the same version as the
# headers; none of Debian's patches touches these files); only libs/filesystem/src
# is kept. Configuring a Windows tree only looks for them here.
root="$(cd "$here/.." && pwd)"
dest="$root/build/third_party/boost-filesystem"
package=boost1.81
[ -f "$dest/src/operations.cpp" ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

if ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "Adding Debian's source packages to apt's sources"
    $sudo tee /etc/apt/sources.list.d/debian-src.sources >/dev/null <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    "$here/apt-update.sh" >/dev/null
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
echo "Fetching Boost.Filesystem's sources ($package source package)"
(cd "$work" && apt-get source --download-only -qq "$package" >/dev/null)
orig="$(ls "$work"/${package}_*.orig.tar.*)"
mkdir -p "$work/tree"
tar -xf "$orig" -C "$work/tree" --strip-components=1 --wildcards '*/libs/filesystem/src/*'

mkdir -p "$(dirname "$dest")"
rm -rf "$dest.tmp"
mkdir -p "$dest.tmp"
cp -r "$work/tree/libs/filesystem/src" "$dest.tmp/src"
rm -rf "$dest"
mv "$dest.tmp" "$dest"
echo "Boost.Filesystem sources in $dest/src"
