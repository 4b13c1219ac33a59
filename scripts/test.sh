#!/usr/bin/env bash
# The test command: installs what it needs, builds every preset, runs the Linux tests
# natively and with sanitizers, the Windows tests under Wine, and each fuzz target on its
# corpus and for a fixed seed and number of inputs. Exits non-zero on any failure; the last
# line sums up every ctest run.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh || exit 1
# shellcheck source=scripts/wine-session.sh
source scripts/wine-session.sh
trap stop_wine_session EXIT

failed_steps=()
passed=0
failed=0

# Runs ctest for a preset, printing its output and adding its counts to the totals.
run_tests() {
  local preset=$1 log=build/$1-ctest.log
  ctest --preset "$preset" 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  local summary
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -n "$summary" ]; then
    local bad total
    bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")
    total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$summary")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  fi
  [ "$status" -eq 0 ] && [ -n "$summary" ] || failed_steps+=("tests of $preset")
}

build() {
  cmake --preset "$1" >"build/$1-configure.log" 2>&1 || { cat "build/$1-configure.log"; return 1; }
  cmake --build --preset "$1"
}

mkdir -p build
for preset in host sanitize windows fuzz; do
  echo "=== build: $preset"
  build "$preset" || failed_steps+=("build of $preset")
done

echo "=== tests: host"
run_tests host
echo "=== tests: sanitize"
run_tests sanitize
echo "=== tests: windows (Wine)"
if start_wine_session "$root/build/windows/wineprefix"; then
  run_tests windows
else
  failed_steps+=("Wine session")
fi
stop_wine_session
echo "=== fuzz targets"
run_tests fuzz

echo
if [ ${#failed_steps[@]} -gt 0 ]; then
  printf 'FAILED: %s\n' "${failed_steps[@]}"
fi
echo "tests: $passed passed, $failed failed"
[ ${#failed_steps[@]} -eq 0 ] && [ "$failed" -eq 0 ]
