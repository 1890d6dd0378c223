#!/bin/bash
# Builds everything and runs every test:
#   1. installs what is missing (scripts/setup.sh),
#   2. the native build and its unit tests (under ASan and UBSan), then a
#      60-second fuzz run of the script interpreter (clang, libFuzzer),
#   3. the Windows cross build, a Release build: the tests run the optimised,
#      stripped QXUpdate.exe that ships,
#   4. a throw-away Wine prefix and a private Xvfb,
#   5. the Windows tests under Wine, one at a time: the Win32 unit tests (also
#      in two more time zones) and the end-to-end tests of the program.
# The Wine prefix and Xvfb are torn down however the run ends. The last line
# is "N passed, M failed"; a build step that fails counts as one failure.
#
# Build folders: QX_NATIVE_BUILD_DIR (default build/native) and QX_BUILD_DIR
# (default build/win).
set -uo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
native_dir="${QX_NATIVE_BUILD_DIR:-$repo/build/native}"
export QX_BUILD_DIR="${QX_BUILD_DIR:-$repo/build/win}"
# Test windows go to a private X server, never to a developer's desktop.
export QX_XVFB=force
jobs=2

started=$(date +%s)
passed=0
failed=0
problems=()

say() { echo "== test.sh: $*"; }

teardown() {
  bash "$repo/scripts/wine-prefix.sh" down >/dev/null 2>&1 || true
}
trap teardown EXIT
trap 'say "interrupted"; exit 130' INT TERM

summary_and_exit() {
  local elapsed=$(( $(date +%s) - started ))
  say "finished in $((elapsed / 60)) min $((elapsed % 60)) s"
  if [ ${#problems[@]} -ne 0 ]; then
    say "problems:"
    printf '   - %s\n' "${problems[@]}"
  fi
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit $?
}

# A build step that fails counts as one failed test: whatever it should have
# produced was not tested.
step() {
  local what="$1" limit="$2"
  shift 2
  say "$what"
  if ! timeout "$limit" "$@"; then
    problems+=("$what failed")
    failed=$((failed + 1))
    return 1
  fi
}

# Runs ctest and adds its totals to ours.
run_ctest() {
  local what="$1"
  shift
  local log rc line total bad
  log="$(mktemp)"
  say "$what"
  timeout 3000 ctest --output-on-failure "$@" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  line="$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n1)"
  rm -f "$log"
  if [ -z "$line" ]; then
    problems+=("$what: ctest reported no totals (exit code $rc)")
    failed=$((failed + 1))
    return 1
  fi
  bad="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")"
  total="$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")"
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  if [ "$bad" -ne 0 ]; then
    problems+=("$what: $bad of $total tests failed")
  elif [ "$rc" -ne 0 ]; then
    problems+=("$what: ctest exited with $rc")
    failed=$((failed + 1))
  fi
}

# A build folder configured with another cross compiler keeps the old one in
# its cache; start such a folder afresh.
fresh_if_toolchain_changed() {
  local dir="$1" stamp="$1/.toolchain.sha256" now
  now="$(sha256sum "$repo/cmake/mingw-i686.cmake" | cut -d' ' -f1)"
  if [ -f "$dir/CMakeCache.txt" ] && [ "$(cat "$stamp" 2>/dev/null)" != "$now" ]; then
    say "the toolchain file changed: reconfiguring $dir from scratch"
    rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
  fi
  mkdir -p "$dir"
  echo "$now" >"$stamp"
}

if ! step "installing missing packages" 3600 bash "$repo/scripts/setup.sh"; then
  summary_and_exit
fi

# Leftovers of an earlier run that did not get to tear down.
bash "$repo/scripts/wine-prefix.sh" down >/dev/null 2>&1 || true

if step "configuring the native build" 600 cmake -S "$repo" -B "$native_dir" -DCMAKE_BUILD_TYPE=Debug &&
   step "building the native build" 2400 cmake --build "$native_dir" -j"$jobs"; then
  run_ctest "native tests" --test-dir "$native_dir" -j"$jobs"
fi

# The interpreter's fuzz target, built with clang: a bounded run over the
# corpus of real-looking scripts. A crash, a sanitizer report, a time-out or
# running out of memory fails it.
fuzz_dir="${QX_FUZZ_BUILD_DIR:-$repo/build/fuzz}"
if step "configuring the fuzz build" 600 cmake -S "$repo" -B "$fuzz_dir" -DCMAKE_C_COMPILER=clang \
        -DCMAKE_CXX_COMPILER=clang++ -DQX_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
   step "building the fuzz target" 2400 cmake --build "$fuzz_dir" -j"$jobs" --target script_fuzz; then
  rm -rf "$fuzz_dir/corpus"
  cp -r "$repo/tests/fuzz/corpus" "$fuzz_dir/corpus"
  if step "fuzzing the script interpreter for 60 s" 300 "$fuzz_dir/script_fuzz" -max_total_time=60 \
          -rss_limit_mb=2048 -timeout=10 -max_len=4096 -print_final_stats=1 "$fuzz_dir/corpus"; then
    passed=$((passed + 1))
  fi
fi

fresh_if_toolchain_changed "$QX_BUILD_DIR"
if step "configuring the Windows build" 600 cmake -S "$repo" -B "$QX_BUILD_DIR" \
        -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release &&
   step "building the Windows build" 2400 cmake --build "$QX_BUILD_DIR" -j"$jobs" &&
   step "preparing the Wine prefix and Xvfb" 900 bash "$repo/scripts/wine-prefix.sh" up; then
  run_ctest "Windows tests under Wine" --test-dir "$QX_BUILD_DIR" -j1 --timeout 1500
fi

summary_and_exit
