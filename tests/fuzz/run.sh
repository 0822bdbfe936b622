#!/usr/bin/env bash
# Runs fuzz targets of the "fuzz" preset for a bounded time each, on the committed seeds.
#   tests/fuzz/run.sh [--build DIR] [--seconds N] [TARGET...]     (default: all, 15 s each)
# New inputs go to DIR/tests/fuzz/work/TARGET, so the committed corpus stays as it is; a crash
# leaves its input in DIR/tests/fuzz/crashes/ and makes the script fail.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build="$here/../../build/fuzz"
seconds=15
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    *) break ;;
  esac
done
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(hiscore_file plane_header catalogue find_title encode_field language skin_runs)

# Longest input per target: long enough for the interesting sizes (FindTag past 65,535
# characters, several catalogue pages, a few hundred pixels square), short enough to stay fast.
max_len() {
  case $1 in
    find_title) echo 80000 ;;
    catalogue) echo 20000 ;;
    skin_runs) echo 70000 ;;
    plane_header) echo 1200 ;;
    *) echo 4096 ;;
  esac
}

status=0
for t in "${targets[@]}"; do
  bin="$build/tests/fuzz/fuzz_$t"
  [ -x "$bin" ] || { echo "no fuzz target $bin (cmake --build --preset fuzz)" >&2; exit 2; }
  work="$build/tests/fuzz/work/$t"
  crashes="$build/tests/fuzz/crashes"
  mkdir -p "$work" "$crashes"
  echo "== fuzz_$t: $seconds s"
  if ! "$bin" -max_total_time="$seconds" -max_len="$(max_len "$t")" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$crashes/$t-" "$work" "$here/corpus/$t" 2>"$work.log"; then
    tail -n 60 "$work.log" >&2
    status=1
  fi
  grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "$work.log" || true
done
exit $status
