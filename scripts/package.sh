#!/usr/bin/env bash
# Builds the Debian package of kqm-indexer and kqmctl into dist/, then checks
# it: its contents, its dependencies, the desktop entry, the metainfo, the
# completion, lintian, and the unpacked programs' --version and --help.
#
# Usage: scripts/package.sh                   a clean build in build-package/
#        scripts/package.sh --build-dir DIR   package a tree built by scripts/build.sh
#                                             (CI packages the binaries its tests ran)
set -euo pipefail
cd "$(dirname "$0")/.."

dir=""
if [ "${1:-}" = "--build-dir" ] && [ -n "${2:-}" ]; then
    dir=$2
elif [ $# -ne 0 ]; then
    echo "usage: scripts/package.sh [--build-dir DIR]" >&2
    exit 2
fi

scripts/setup.sh --packaging

if [ -z "$dir" ]; then
    dir=build-package
    rm -rf "$dir"
    # Debian's hardening flags, as a package built by dpkg-buildpackage gets.
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKQM_BUILD_TESTS=OFF \
        -DKQM_BUILD_BENCH=OFF \
        -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
        -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
fi
cmake --build "$dir" -j2
(cd "$dir" && cpack -G DEB >/dev/null)

mkdir -p dist
rm -f dist/kqm-indexer_*.deb
deb=$(ls -t "$dir"/kqm-indexer_*.deb | head -1)
cp "$deb" dist/
deb=dist/$(basename "$deb")
echo "Package: $deb"

# What is in it.
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
status=0
for path in usr/bin/kqm-indexer usr/bin/kqmctl usr/libexec/kqm-indexer/kqm-legacy-reader \
    usr/share/applications/com.quorvexmotion.KqmIndexer.desktop \
    usr/share/metainfo/com.quorvexmotion.KqmIndexer.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/com.quorvexmotion.KqmIndexer.svg \
    usr/share/icons/hicolor/48x48/apps/com.quorvexmotion.KqmIndexer.png \
    usr/share/man/man1/kqmctl.1.gz usr/share/man/man1/kqm-indexer.1.gz \
    usr/share/bash-completion/completions/kqmctl \
    usr/share/kqm-indexer/blank.kqm usr/share/doc/kqm-indexer/copyright; do
    if [ ! -e "$unpacked/$path" ]; then
        echo "missing from the package: /$path" >&2
        status=1
    fi
done

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for needed in libqt6core6 libqt6widgets6 libqt6serialport6 libqt6sql6-sqlite libmdb3 \
    fonts-liberation; do
    if ! grep -q "$needed" <<<"$depends"; then
        echo "the package does not depend on $needed" >&2
        status=1
    fi
done

bash -n "$unpacked/usr/share/bash-completion/completions/kqmctl"
desktop-file-validate "$unpacked/usr/share/applications/com.quorvexmotion.KqmIndexer.desktop"
appstreamcli validate --no-net \
    "$unpacked/usr/share/metainfo/com.quorvexmotion.KqmIndexer.metainfo.xml" >/dev/null

# The unpacked programs run (the libraries are the system's).
"$unpacked/usr/bin/kqmctl" --version
"$unpacked/usr/bin/kqmctl" --help >/dev/null
"$unpacked/usr/bin/kqm-indexer" --version >/dev/null

# lintian: no errors and no warnings (what it still says are infos).
lintian_status=0
lintian_out=$(lintian --allow-root -I "$deb") || lintian_status=$?
if [ "$lintian_status" -gt 1 ]; then
    echo "lintian did not run (exit $lintian_status)" >&2
    status=1
fi
[ -n "$lintian_out" ] && echo "$lintian_out"
if grep -qE '^(E|W):' <<<"$lintian_out"; then
    echo "lintian reports errors or warnings" >&2
    status=1
fi
exit $status
