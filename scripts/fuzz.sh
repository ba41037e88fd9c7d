#!/usr/bin/env bash
# Builds the libFuzzer harnesses of tests/fuzz with clang in build/fuzz and
# runs each for MINUTES minutes (default 1; fractions allowed, "0.5" is 30 s),
# starting from the seed corpus and dictionary checked in beside it. New
# inputs go to a scratch corpus, never into the repository. Any crash, leak,
# sanitizer report, time-out or broken invariant fails the run; the input is
# kept under build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes="${1:-1}"
seconds=$(awk -v m="$minutes" 'BEGIN { s = int(m * 60); if (s < 1) s = 1; print s }')
harnesses=(fuzz_serial fuzz_datagram fuzz_keypad fuzz_merge)

bash scripts/install-deps.sh
if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: no se encontró clang++" >&2
  exit 1
fi
launcher=()
if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DSORVENT_FUZZ=ON -DSORVENT_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build build/fuzz -j"$(nproc)" --target "${harnesses[@]}"

mkdir -p build/fuzz/findings
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:allocator_may_return_null=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
failed=0
for h in "${harnesses[@]}"; do
  scratch=$(mktemp -d)
  extra=()
  # An update file grows by pages when rows are copied into it.
  if [ "$h" = fuzz_merge ]; then extra=(-max_len=16384); fi
  echo "== $h: ${seconds} s"
  if ! build/fuzz/bin/"$h" "$scratch" "tests/fuzz/corpus/$h" -dict="tests/fuzz/$h.dict" "${extra[@]}" \
      -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -malloc_limit_mb=1024 \
      -artifact_prefix="build/fuzz/findings/$h-" -print_final_stats=1 2>build/fuzz/"$h".log; then
    echo "fuzz: $h encontró un fallo (build/fuzz/$h.log, build/fuzz/findings/)" >&2
    tail -n 40 build/fuzz/"$h".log >&2
    failed=1
  else
    grep -E "stat::number_of_executed_units|cov:" build/fuzz/"$h".log | tail -n 2
  fi
  rm -rf "$scratch"
done
exit "$failed"
