#!/usr/bin/env bash
# Builds the programs without GoogleTest, installs into a temporary prefix and builds the Debian package, then checks
# what each holds and that both manual pages render without warnings.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

# The programs build where GoogleTest cannot be found, as on a machine
# without it.
make build BUILD="$prefix/build" CMAKE_ARGS="-DSHEETCUT_WERROR=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON" >/dev/null
rm -rf "$prefix/build"

make install PREFIX="$prefix" >/dev/null
for f in bin/sheetcut bin/fontdump bin/sheetprep share/man/man1/sheetcut.1 share/man/man1/fontdump.1 \
    share/man/man1/sheetprep.1; do
    [ -f "$prefix/$f" ] || { echo "install: $f missing"; exit 1; }
done
"$prefix/bin/sheetcut" -s8,16 -c20,7e -o0,5e examples/terminus-8x16.bmp "$prefix/a.fnt"
"$prefix/bin/fontdump" -c41 "$prefix/a.fnt" >/dev/null
"$prefix/bin/sheetprep" -s8,16 examples/terminus-8x16.png "$prefix/s.bmp" >/dev/null

for page in "$prefix"/share/man/man1/*.1; do
    mandoc -T lint -W warning "$page"
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "$page: $warnings"; exit 1; }
done

make package >/dev/null
deb=$(ls -t build/sheetcut_*.deb | head -n 1)
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}' | grep -v '/$' | sort)
expected=$(printf '%s\n' ./usr/bin/fontdump ./usr/bin/sheetcut ./usr/bin/sheetprep ./usr/share/doc/sheetcut/README.md \
    ./usr/share/man/man1/fontdump.1 ./usr/share/man/man1/sheetcut.1 ./usr/share/man/man1/sheetprep.1 | sort)
if [ "$contents" != "$expected" ]; then
    printf 'package %s holds:\n%s\nexpected:\n%s\n' "$deb" "$contents" "$expected"
    exit 1
fi
echo "install and package ok: $deb"
dpkg-deb -c "$deb"
