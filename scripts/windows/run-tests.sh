#!/usr/bin/env bash
# make windows-test: the QtTest suites built for Windows, run by ctest under
# Wine (through scripts/windows/wine-run, the suites' emulator) on Qt's
# minimal platform (with the system's fonts); the real window is the
# end-to-end run's. Wine itself gets an X server (Xvfb): without a display
# it gives a new console no screen buffer, and the tools' helper reads its
# console back. Prints every skipped case with its reason and their
# count: more than 10 fail the run.
#
#   scripts/windows/run-tests.sh BUILD_DIR PREFIX [JOBS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "$1") prefix=$(realpath -m "$2") jobs=${3:-2}
source "$here/wine-env.sh"
sdk=$(sed -n 's/^KESTO_WIN_SDK:[A-Z]*=//p' "$build/CMakeCache.txt")
wine_prefix "$prefix" QT_QPA_PLATFORM=minimal:enable_fonts QT_FORCE_STDERR_LOGGING=1 \
    "QT_PLUGIN_PATH=$(wine_path "$sdk/plugins")"
trap 'wineserver -k 2>/dev/null || true' EXIT

log="$build/windows-test.log"
status=0
(cd "$build" && xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" ctest -j "$jobs" --output-on-failure -V) \
    >"$log" 2>&1 || status=$?
# Each line of a suite's output is prefixed by its test number.
grep -E '^ *[0-9]+/[0-9]+ Test|tests passed' "$log" || true
grep -A4 'FAIL!' "$log" || true
skips=$(grep -cE '^[0-9]+: SKIP ' "$log" || true)
echo "windows-test: $skips case(s) skipped under Wine"
grep -E '^[0-9]+: SKIP ' "$log" | sed 's/^[0-9]*: /  /' || true
if ((status != 0)); then
    echo "windows-test: failed; the whole output is in $log" >&2
    exit "$status"
fi
if ((skips > 10)); then
    echo "windows-test: more than 10 cases skipped" >&2
    exit 1
fi
