#!/usr/bin/env bash
# Installs what is missing, builds Release and an ASan+UBSan build with
# warnings as errors, and runs every test of both.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQB_WERROR=ON >/dev/null
cmake --build build

# The Windows modules, cross-built from the same sources: i686 is the module
# for 32-bit hosts; x86_64 runs under wine64 through the harness, whose output
# tests/windows compares with the Linux module's, along with static checks of
# both files. QB_WINDOWS_REQUIRED turns their "not built" skips into failures.
win_flags=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DQB_WERROR=ON -DQB_BUILD_TESTS=OFF
           -DQB_BUILD_BENCH=OFF)
cmake -S . -B build-win32 "${win_flags[@]}" \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake >/dev/null
cmake --build build-win32 --target QuorvantBlur
cmake -S . -B build-win64 "${win_flags[@]}" \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake >/dev/null
cmake --build build-win64 --target QuorvantBlur winharness
# The first wine command sets up a new prefix; on a busy machine that now
# and then stops short (kernel32.dll missing, status 53), so a harness that
# cannot start gets one more try in a prefix made afresh.
run_harness() {
  rm -rf build-win64/wine-out && mkdir build-win64/wine-out
  (cd build-win64 && WINEPREFIX="$PWD/wineprefix" WINEDEBUG=-all "${WINE64:-/usr/lib/wine/wine64}" \
    winharness.exe QuorvantBlur.aex wine-out >/dev/null)
}
if ! run_harness; then
  rm -rf build-win64/wineprefix
  run_harness
fi
export QB_WINDOWS_REQUIRED=1
# tests/frei0r renders through ffmpeg, melt and GStreamer, which deps.sh
# installs: a missing one is a failure here, not a skip.
export QB_FREI0R_REQUIRED=1

ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_WERROR=ON \
  -DQB_SANITIZE=ON -DQB_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

# Reliability: the concurrency test under ThreadSanitizer; the long render of
# an 8192 x 8192 16-bit frame (seconds in Release); each libFuzzer target for
# about a minute from its seed corpus, in a clang build. Inputs that broke an
# invariant are left in build-fuzz/ as crash-*, leak-* or timeout-* files.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_WERROR=ON \
  -DQB_TSAN=ON -DQB_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan --target test_reliability
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  build-tsan/tests/test_reliability --gtest_filter='Concurrency.*'

QB_LONG_TESTS=1 build/tests/test_reliability --gtest_filter='*.Long*'

cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_FUZZ=ON -DQB_BUILD_TESTS=OFF -DQB_BUILD_BENCH=OFF \
  >/dev/null
fuzz_targets=(effect_main)
# The image target exists where OpenImageIO was found.
grep -q 'fuzz_image_read' build-fuzz/build.ninja && fuzz_targets+=(image_read)
cmake --build build-fuzz --target "${fuzz_targets[@]/#/fuzz_}"
# LeakSanitizer's stop-the-world tracer now and then crashes by itself on a
# loaded machine ("LeakSanitizer has encountered a fatal error", no report).
# That is the tool failing, not a finding: such a run, and only such a run,
# gets one more try. A leak, crash, timeout or UBSan report still fails.
tool_fault() {
  grep -q 'LeakSanitizer has encountered a fatal error' "$1" &&
    ! grep -Eq 'ERROR: (AddressSanitizer|LeakSanitizer: detected|libFuzzer: (timeout|out-of-memory|fuzz target))|runtime error:' "$1"
}
fuzz_one() {
  local target=$1 log=$2 work unwind=1 status=0
  work=$(mktemp -d)
  # Image loading runs in libraries built without frame pointers: full
  # stacks there, so that the leak suppressions can name their code.
  [[ $target == image_read ]] && unwind=0
  ASAN_OPTIONS=fast_unwind_on_malloc=$unwind LSAN_OPTIONS=suppressions=fuzz/lsan.supp \
    "build-fuzz/fuzz/fuzz_$target" -max_total_time=60 -timeout=120 -rss_limit_mb=4096 \
    -artifact_prefix=build-fuzz/ -print_final_stats=1 "$work" "fuzz/corpus/$target" \
    >"$log" 2>&1 || status=$?
  rm -rf "$work"
  return "$status"
}
for target in "${fuzz_targets[@]}"; do
  log="build-fuzz/fuzz_$target.log"
  status=0
  fuzz_one "$target" "$log" || status=$?
  if ((status != 0)) && tool_fault "$log"; then
    echo "fuzz_$target: LeakSanitizer's tracer failed by itself; one more run"
    # The unit libFuzzer saved as it went down is not a finding.
    sed -n 's/.*Test unit written to \(build-fuzz\/[^ ]*\).*/\1/p' "$log" | xargs -r rm -f
    mv "$log" "$log.tool-fault"
    status=0
    fuzz_one "$target" "$log" || status=$?
  fi
  echo "fuzz_$target: $(grep -m1 '^stat::number_of_executed_units' "$log" || echo 'no statistics')"
  if ((status != 0)); then
    tail -n 60 "$log"
    echo "fuzz_$target failed (status $status); log in $log"
    exit 1
  fi
done
