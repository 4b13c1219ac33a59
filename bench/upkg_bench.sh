#!/usr/bin/env bash
# Times `upkg build` of a 1 GiB folder of 20 files against `cp -r` and `cat` of the same
# bytes, and `upkg checksum` of a 1 GiB file against `cp` of it, all from a warm page
# cache in one run, so that the ratios compare like with like on this machine.
#
# usage: [BASELINE_UPKG=OLD_UPKG] upkg_bench.sh UPKG [SCRATCH_PARENT] [REPETITIONS]
#   UPKG            the upkg binary to measure
#   SCRATCH_PARENT  where the 3 GiB of scratch data goes (default: $TMPDIR or /tmp)
#   REPETITIONS     timed runs of each command (default: 5)
#   BASELINE_UPKG   another upkg binary, an earlier build say, timed in the same rounds
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 3 ]; then
    echo "usage: $0 UPKG [SCRATCH_PARENT] [REPETITIONS]" >&2
    exit 2
fi
upkg=$(realpath "$1")
parent=${2:-${TMPDIR:-/tmp}}
repetitions=${3:-5}
baseline=${BASELINE_UPKG:+$(realpath "$BASELINE_UPKG")}
for binary in "$upkg" ${baseline:+"$baseline"}; do
    [ -x "$binary" ] || { echo "$binary is not an executable" >&2; exit 2; }
done

scratch=$(mktemp -d "$parent/upkg-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

# One 1 GiB file of random bytes, and the same bytes cut into 20 files below a folder.
echo "making 1 GiB of random data in $scratch" >&2
head -c 1073741824 /dev/urandom >big.bin
mkdir source
split -n 20 -d big.bin source/part
# The smallest stub upkg takes: "MZ", at 0x3C the offset 0x40, there "PE\0\0"; zeros after.
{
    printf 'MZ'
    head -c 58 /dev/zero
    printf '\x40\0\0\0PE\0\0'
    head -c $((100000 - 68)) /dev/zero
} >stub.exe
[ "$(cat source/* | wc -c)" -eq 1073741824 ]

echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"

# Warm the page cache; dirty pages reach the disk before timing starts.
cat big.bin source/* >/dev/null
cat big.bin source/* >/dev/null
sync

now() { date +%s%N; }

# Runs the command after flushing earlier writes, so that no run pays for the one before;
# appends its time in milliseconds to the file named first.
timed() {
    local record=$1
    shift
    sync
    local start end
    start=$(now)
    "$@"
    end=$(now)
    echo $(((end - start) / 1000000)) >>"$record"
}

copy_tree() { cp -r source tree.copy; }
cat_tree() { cat source/* >/dev/null; }
build() { "$upkg" build --quiet --stub stub.exe --title bench -o update.exe source; }
copy_file() { cp big.bin big.copy; }
checksum() { "$upkg" checksum --quiet big.bin >/dev/null; }
build_baseline() { "$baseline" build --quiet --stub stub.exe --title bench -o update.exe source; }
checksum_baseline() { "$baseline" checksum --quiet big.bin >/dev/null; }

# Interleaved, and in a different order each round, so that a slow moment of the machine or
# the write-back of an earlier round touches every command alike. Round 0 is not counted:
# the first writes into fresh memory are slow on a virtual machine.
commands=(copy_tree cat_tree build copy_file checksum)
records=(cp_r cat build cp checksum)
if [ -n "$baseline" ]; then
    commands+=(build_baseline checksum_baseline)
    records+=(build_baseline checksum_baseline)
fi
for ((i = 0; i <= repetitions; i++)); do
    for ((j = 0; j < ${#commands[@]}; j++)); do
        k=$(((i + j) % ${#commands[@]}))
        rm -rf tree.copy update.exe big.copy
        timed "${records[k]}.ms" "${commands[k]}"
    done
    if [ "$i" -eq 0 ]; then
        rm -f ./*.ms
        echo "warm-up round done" >&2
    else
        echo "run $i of $repetitions done" >&2
    fi
done

median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
row() { printf '%-22s %8s ms   (%s)\n' "$1" "$(median "$2")" "$(tr '\n' ' ' <"$2" | sed 's/ $//')"; }

echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "medians of $repetitions runs, 1 GiB, warm cache (all runs in parentheses)"
row "cp -r (20 files)" cp_r.ms
row "cat > /dev/null" cat.ms
row "upkg build" build.ms
row "cp (1 file)" cp.ms
row "upkg checksum" checksum.ms
ratio() { awk -v a="$(median "$2")" -v b="$(median "$3")" -v t="$1" 'BEGIN { printf "%-34s %.2f\n", t, a / b }'; }
ratio "build / cp -r (goal <= 1.3):" build.ms cp_r.ms
ratio "checksum / cp (goal <= 0.6):" checksum.ms cp.ms
if [ -n "$baseline" ]; then
    row "baseline upkg build" build_baseline.ms
    row "baseline upkg checksum" checksum_baseline.ms
    ratio "baseline build / cp -r:" build_baseline.ms cp_r.ms
    ratio "baseline checksum / cp:" checksum_baseline.ms cp.ms
    ratio "build / baseline build:" build.ms build_baseline.ms
    ratio "checksum / baseline checksum:" checksum.ms checksum_baseline.ms
fi
