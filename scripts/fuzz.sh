#!/usr/bin/env bash
# Exploratory fuzzing, beside the test command's fixed runs: one target with a random seed
# for SECONDS (default 600), from its checked-in seeds plus what earlier explorations kept.
#   bash scripts/fuzz.sh TARGET [SECONDS]      TARGET: hash_list, archive_index, ... (tests/fuzz/)
# A crash leaves its input in build/fuzz-explore/TARGET/; fix the fault and add the input to
# tests/fuzz/corpus/TARGET/, where every later test run replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:-}
seconds=${2:-600}
if [ -z "$target" ] || [ ! -d "tests/fuzz/corpus/$target" ]; then
  targets=(tests/fuzz/corpus/*)
  echo "usage: bash scripts/fuzz.sh TARGET [SECONDS]; TARGET one of: ${targets[*]##*/}" >&2
  exit 2
fi

bash scripts/setup.sh
mkdir -p build
{ cmake --preset fuzz && cmake --build --preset fuzz --target "${target}_fuzz"; } \
  >build/fuzz-explore-build.log 2>&1 || { tail -n 30 build/fuzz-explore-build.log; exit 1; }

work=build/fuzz-explore/$target
mkdir -p "$work/corpus"
# -seed=0: a new random seed each time (libFuzzer prints it).
exec "build/fuzz/tests/fuzz/${target}_fuzz" -seed=0 -max_total_time="$seconds" \
  -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" "tests/fuzz/corpus/$target"
