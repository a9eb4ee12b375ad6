#!/usr/bin/env bash
# `make fuzz`: builds the fuzz targets with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer in their own build folder, runs each for a bounded time over
# its committed seed corpus and reports executions and findings. Exits non-zero when a
# target found a crash, leak, time-out or failed check (the inputs are kept for replay).
#
# Settings (environment): FUZZ_SECONDS per target (60), FUZZ_TARGETS, FUZZ_BUILD_DIR
# (build-fuzz), FUZZ_CXX (clang++), JOBS.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-"inquiry listfile uploadbody httpanswer"}
cxx=${FUZZ_CXX:-clang++}
jobs=${JOBS:-2}

fail() {
    echo "make fuzz: $*" >&2
    exit 2
}

command -v "$cxx" >/dev/null 2>&1 ||
    fail "$cxx not found. libFuzzer needs clang: install the Debian packages clang and libclang-rt-14-dev (scripts/install-deps.sh fuzz)."
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' >"$probe/p.cpp"
"$cxx" -fsanitize=fuzzer,address,undefined "$probe/p.cpp" -o "$probe/p" >"$probe/log" 2>&1 ||
    fail "$cxx cannot link with -fsanitize=fuzzer (is libclang-rt-14-dev installed?): $(head -c 400 "$probe/log")"

flags="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_CXX_FLAGS="$flags" -DKELVORA_SANITIZE=OFF -DKELVORA_FUZZ=ON >"$build.configure.log" 2>&1 ||
    { cat "$build.configure.log" >&2; fail "configuring $build failed"; }
rm -f "$build.configure.log"
cmake --build "$build" -j "$jobs" --target $(for t in $targets; do printf 'fuzz_%s ' "$t"; done)

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

summary=()
found=0
for t in $targets; do
    work="$build/fuzz-work/$t"        # inputs libFuzzer adds; the committed corpus is only read
    findings="$build/fuzz-findings/$t"
    log="$build/fuzz-$t.log"
    mkdir -p "$work" "$findings"
    seeds=$(find "fuzz/corpus/$t" -type f | wc -l)
    echo "== fuzz_$t: ${seconds}s over $seeds seeds (log: $log)"
    set +e
    "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
        -dict="fuzz/dict/$t.dict" -artifact_prefix="$findings/" -print_final_stats=1 \
        "$work" "fuzz/corpus/$t" >"$log" 2>&1
    rc=$?
    set -e
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n1)
    corpus=$(find "$work" -type f | wc -l)
    artifacts=$(find "$findings" -type f | wc -l)
    if [ "$rc" -ne 0 ] || [ "$artifacts" -gt 0 ]; then
        found=1
        result="FOUND (exit $rc): $(grep -m1 -E 'ERROR: |fuzz check failed|runtime error' "$log" || echo 'see log')"
    else
        result="clean"
    fi
    summary+=("$(printf '%-11s %10s runs %8s exec/s  corpus +%-5s findings %-3s %s' "$t" "${runs:-?}" "${rate:-?}" "$corpus" "$artifacts" "$result")")
done

echo
echo "Fuzzing summary (${seconds}s per target; findings in $build/fuzz-findings/<target>/):"
printf '  %s\n' "${summary[@]}"
exit "$found"
