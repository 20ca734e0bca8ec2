#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs each for the given number of seconds, two at a time.
#
#   fuzz/run_fuzzers.sh [seconds per target] [target ...]
#
# Each target starts from a copy of its seed corpus (fuzz/corpus/<Name>) and keeps what it
# finds in build-fuzz/corpus/<Name>. An input that makes a target fail is written to
# fuzz/crashes/<Name>/; keep it there once fixed: the test suite replays that folder.
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_PER_TARGET=${1:-600}
shift || true
BUILD=build-fuzz
CLANG=${CLANG:-clang++-14}

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_CXX_COMPILER="$CLANG" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTT_BUILD_FUZZ=ON -DTT_SANITIZE=address,undefined -DTT_BUILD_TESTS=OFF -DTT_BUILD_BENCH=OFF >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    mapfile -t targets < <(sed -n 's/^set(TT_FUZZ_TARGETS \(.*\))$/\1/p' fuzz/CMakeLists.txt | tr ' ' '\n')
fi
cmake --build "$BUILD" -j "$(nproc)" --target $(printf 'fuzz_%s ' "${targets[@]}")

run_target() {
    local name=$1
    local corpus="$BUILD/corpus/$name"
    mkdir -p "$corpus" "fuzz/crashes/$name"
    cp -n fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null || true
    echo "== $name: ${SECONDS_PER_TARGET}s"
    if "$BUILD/bin/fuzz_$name" "$corpus" -max_total_time="$SECONDS_PER_TARGET" -rss_limit_mb=2048 \
        -artifact_prefix="fuzz/crashes/$name/" -print_final_stats=1 >"$BUILD/$name.log" 2>&1; then
        echo "== $name: clean, $(grep -m1 -o 'stat::number_of_executed_units: [0-9]*' "$BUILD/$name.log" || true)"
    else
        echo "== $name: FAILED, see $BUILD/$name.log and fuzz/crashes/$name/"
        return 1
    fi
}

status=0
pids=()
for name in "${targets[@]}"; do
    run_target "$name" &
    pids+=($!)
    if [ ${#pids[@]} -ge 2 ]; then
        wait "${pids[0]}" || status=1
        pids=("${pids[@]:1}")
    fi
done
for pid in "${pids[@]}"; do
    wait "$pid" || status=1
done
exit $status
