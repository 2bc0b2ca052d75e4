#!/usr/bin/env bash
# Runs each fuzz target for a bounded time, starting from the seed corpus
# that tests/fuzz/corpus keeps, and prints the executions per target.
#
#   bench/fuzz.sh [seconds-per-target] [build-dir]
#
# Defaults: 60 seconds each, build/fuzz. The targets are built first, in a
# clang configure of their own. Inputs a run finds are kept in
# <build-dir>/corpus/<target> and fed to the next run; an input that breaks
# a target is written to <build-dir>/artifacts/<target>/ and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${2:-build/fuzz}
targets=(server_signon_fuzz server_datagram_fuzz client_signon_fuzz client_datagram_fuzz)

cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZEPHRAN_FUZZ=ON -DZEPHRAN_WITH_QT=OFF >/dev/null
cmake --build "$build" --target fuzz_targets >/dev/null

printf '%-22s %8s %12s %8s %8s  %s\n' target seconds executions exec/s corpus result
status=0
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  artifacts="$build/artifacts/$target/"
  log="$build/$target.log"
  mkdir -p "$corpus" "$artifacts"
  if "$build/tests/fuzz/$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" "tests/fuzz/corpus/$target" >"$log" 2>&1; then
    result=ok
  else
    result="FAILED, see $log"
    status=1
  fi
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  size=$(find "$corpus" "tests/fuzz/corpus/$target" -type f | wc -l)
  printf '%-22s %8s %12s %8s %8s  %s\n' "$target" "$seconds" "${executions:-?}" "${rate:-?}" "$size" "$result"
done
exit $status
