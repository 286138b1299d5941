#!/usr/bin/env bash
# Builds every libFuzzer target (executables named fuzz_*) with clang under
# ASan+UBSan and runs each one for a short time: FUZZ_SECONDS each (default
# 20; run longer by hand, e.g. FUZZ_SECONDS=600 tools/run_fuzzers.sh
# fuzz_reg_import).  Arguments name the targets to run; none means all.
#
# Seeds: a target's seed corpus is the directory listed for it below; the
# working corpus lives in build/fuzz/corpus/<target>, so the seeds in the
# source tree are never written to.  A crash stops the run with its input
# saved in build/fuzz/artifacts/ beside the run's log.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-20}

seed_dir() {
  case "$1" in
    fuzz_persist_load) echo tests/platform/persist/data ;;
    fuzz_typelib) echo tests/platform/typelib/fuzz_corpus ;;
    fuzz_reg_import) echo tests/platform/registry/fuzz_corpus ;;
    *)
      # Default: a directory named after the target beside its source.
      find tests -type d \( -name "$1_seeds" -o -name "$1_corpus" \) -print -quit ;;
  esac
}

cmake --preset fuzz >/dev/null
targets=("$@")
if ((${#targets[@]} == 0)); then
  mapfile -t targets < <(cmake --build --preset fuzz --target help | sed -n 's/^\.\.\. \(fuzz_[A-Za-z0-9_]*\).*/\1/p' | sort -u)
fi
if ((${#targets[@]} == 0)); then
  echo "no fuzz targets"
  exit 0
fi
cmake --build --preset fuzz -j "$(nproc)" --target "${targets[@]}"

mkdir -p build/fuzz/artifacts
for t in "${targets[@]}"; do
  exe=$(find build/fuzz -type f -name "$t" -perm -u+x -print -quit)
  [ -n "$exe" ] || { echo "fuzz target $t was not built" >&2; exit 1; }
  corpus=build/fuzz/corpus/$t
  mkdir -p "$corpus"
  seeds=$(seed_dir "$t")
  dict=$(find tests -type f -name "$t.dict" -print -quit)
  echo "== $t: ${seconds}s${seeds:+, seeds from $seeds}"
  log=build/fuzz/artifacts/$t.log
  rm -f build/fuzz/artifacts/"$t"-*
  status=0
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$exe" -max_total_time="$seconds" -max_len=16384 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/artifacts/"$t"- ${dict:+-dict="$dict"} "$corpus" ${seeds:+"$seeds"} >"$log" 2>&1 || status=$?
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$log" || true
  if ((status != 0)); then
    tail -n 60 "$log" >&2
    echo "fuzz target $t found a fault (exit $status): $(ls build/fuzz/artifacts/"$t"-* 2>/dev/null)" >&2
    exit 1
  fi
done
echo "fuzzers passed"
