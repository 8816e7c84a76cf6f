#!/usr/bin/env bash
# Open of 50 MB, an earlier build against this tree's, in one run: the program
# at BASE (a commit) is built with this tree's benchmarks in build-base/, then
# the two `kestobench --open-only` take turns, ROUNDS times each (every run
# gives the medians of 10 opens, in code page 852, Windows-1250 and UTF-8);
# last, the peak memory of the real window opening 50 MB whose bytes are a
# third Polish letters, for both programs.
#
#   scripts/bench-compare.sh BASE [ROUNDS]      (run through `make bench-compare`)
#
# NICE (e.g. -20, as root) runs the measured programs ahead of other work on a
# shared machine, as BENCH_NICE does for `make bench`.
set -euo pipefail
base=${1:?usage: $0 BASE [ROUNDS]}
rounds=${2:-3}
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=${JOBS:-2}
out=build-base
src=$out/src

rm -rf "$src"
mkdir -p "$src"
git archive "$base" | tar -x -C "$src"
rm -rf "$src/bench"
cp -r bench "$src/bench"
cmake -S "$src" -B "$out/build" -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$out/build" -j "$jobs" --target kestoide benchmarks >/dev/null
echo "built $base ($(git rev-parse --short "$base")) in $out/build"

xvfb() { ${NICE:+nice -n "$NICE"} xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$@"; }
declare -A runs
for ((r = 1; r <= rounds; r++)); do
    for which in base this; do
        bin=$([[ $which == base ]] && echo "$out/build/bench/kestobench" || echo build/bench/kestobench)
        while read -r _ name ms _; do
            runs[$which/$name]+="$ms "
            echo "round $r, $which: open $name $ms ms"
        done < <(xvfb "$bin" --open-only 2>/dev/null | grep '^open ')
    done
done
median() { tr ' ' '\n' | grep -v '^$' | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo
echo "| open 50 MB (median of the rounds' medians) | $base | this tree | change |"
echo "|---|---:|---:|---:|"
for name in 50MB 50MB-cp1250 50MB-utf8; do
    b=$(median <<<"${runs[base/$name]}")
    t=$(median <<<"${runs[this/$name]}")
    printf '| %s | %.1f ms | %.1f ms | %+.1f %% |\n' "$name" "$b" "$t" "$(echo "($t / $b - 1) * 100" | bc -l)"
done
echo
for which in base this; do
    program=$([[ $which == base ]] && echo "$out/build/ide/kestoide" || echo build/ide/kestoide)
    echo "peak memory, $which:"
    xvfb build/bench/realwindow "$program" --only memory --runs "$rounds" 2>/dev/null | grep -E 'peak memory'
done
