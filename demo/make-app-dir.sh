#!/usr/bin/env bash
# Lays out a complete demo app directory: the launcher, both boot files, the
# app at version 1, the updater with version 2 as its payload, a jre link to
# the system JDK and the debug marker.
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 LAUNCHER DEST_DIR" >&2
    exit 2
fi
launcher=$1
dest=$2
demo=$(cd "$(dirname "$0")" && pwd)
java_home=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")

rm -rf "$dest"
mkdir -p "$dest/lib" "$dest/updater/payload"
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT

javac -d "$staging/app" "$demo/app/src/demo/App.java"
javac -d "$staging/updater" "$demo/updater/src/demo/Updater.java"
for version in 1 2; do
    echo "$version" > "$staging/app/demo/version.txt"
    jar --create --file "$staging/app-$version.jar" -C "$staging/app" .
done
jar --create --file "$dest/updater/updater.jar" -C "$staging/updater" .

cp "$staging/app-1.jar" "$dest/lib/app.jar"
cp "$staging/app-2.jar" "$dest/updater/payload/app.jar"
cp -r "$demo/config" "$dest/config"
cp -r "$demo/updater/config" "$dest/updater/config"
cp "$launcher" "$dest/"
ln -s "$java_home" "$dest/jre"
touch "$dest/debug"
