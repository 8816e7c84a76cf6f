#!/usr/bin/env bash
# Prints the folder of the unpacked Windows SDK (Qt + QScintilla cross-built
# for MinGW-w64), unpacking it first into a cache folder named after its
# checksum. Never builds Qt: without the archive it says what makes it and fails.
#
#   scripts/windows/sdk.sh ARCHIVE SHA256 CACHE_DIR
set -euo pipefail
archive=$1 sha=$2 cache=$3

if [[ ! -f $archive ]]; then
    dir=$(dirname "$archive")
    cat >&2 <<MSG
make windows: no Windows SDK at $archive
It is made by $dir/build-sdk.sh (beside it its README.md; about an hour on
2 cores, and it needs Debian's deb-src lines), then packed as that script's
last line says:
    bash $dir/build-sdk.sh /opt/kesto-win64
    tar -C /opt -cf - kesto-win64 | xz -T2 -9 >$archive
    (cd $dir && sha256sum $(basename "$archive") >$(basename "$archive").sha256)
or point WIN_SDK_DIR at a folder that holds it.
MSG
    exit 1
fi

target="$cache/$sha"
if [[ ! -f $target/.complete ]]; then
    got=$(sha256sum "$archive" | cut -d' ' -f1)
    if [[ $got != "$sha" ]]; then
        echo "make windows: $archive has sha256 $got, expected $sha (WIN_SDK_SHA256)" >&2
        exit 1
    fi
    # Unpacked beside its place and moved there whole: an interrupted run
    # leaves no half SDK that a later one would take for complete.
    mkdir -p "$cache"
    partial=$(mktemp -d "$cache/.unpacking.XXXXXX")
    trap 'rm -rf "$partial"' EXIT
    tar -C "$partial" -xJf "$archive"
    [[ -d $partial/kesto-win64/lib/cmake/Qt6 ]] || { echo "make windows: $archive holds no kesto-win64/ SDK" >&2; exit 1; }
    touch "$partial/kesto-win64/.complete"
    rm -rf "$target"
    mv "$partial/kesto-win64" "$target"
fi
echo "$target"
