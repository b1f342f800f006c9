#!/usr/bin/env bash
# Runs the fuzz targets for longer than the short CTest runs.
#
#   scripts/fuzz.sh [-s SECONDS] [-g] [TARGET...]
#
# TARGET: fuzz_cortar_valor, fuzz_ini, fuzz_mascaras, fuzz_traduccion (default: all, one
# after the other). -s: seconds per target (default 600). -g: keep what the run found in the
# checked-in seed corpus (merged, so only inputs that add coverage go in); without it the new
# inputs stay in build-asan/fuzz-trabajo/. Crashes are left in build-asan/fuzz-trabajo/.
set -euo pipefail
raiz=$(cd "$(dirname "$0")/.." && pwd)
build="$raiz/build-asan"
segundos=600
guardar=0
while getopts "s:g" opcion; do
  case $opcion in
    s) segundos=$OPTARG ;;
    g) guardar=1 ;;
    *) echo "uso: $0 [-s SEGUNDOS] [-g] [OBJETIVO...]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
objetivos=("$@")
[ ${#objetivos[@]} -eq 0 ] && objetivos=(fuzz_cortar_valor fuzz_ini fuzz_mascaras fuzz_traduccion)

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$raiz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCRIBANZAS_SANITIZE=ON -DCRIBANZAS_FUZZ=ON -DCRIBANZAS_BENCH=OFF >/dev/null
fi
cmake --build "$build" --target "${objetivos[@]}"

export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS=suppressions=$raiz/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
trabajo="$build/fuzz-trabajo"
fallos=0
for objetivo in "${objetivos[@]}"; do
  semillas="$raiz/tests/fuzz/corpus/$objetivo"
  nuevo="$trabajo/$objetivo"
  mkdir -p "$nuevo"
  echo "== $objetivo: $segundos s"
  # New inputs go to the first folder; the seeds are only read.
  if ! "$build/bin/$objetivo" -max_total_time="$segundos" -rss_limit_mb=2048 -timeout=5 \
      -print_final_stats=1 -artifact_prefix="$trabajo/$objetivo-" "$nuevo" "$semillas" \
      2> "$trabajo/$objetivo.log"; then
    echo "   FALLO: see $trabajo/$objetivo.log and $trabajo/$objetivo-*" >&2
    fallos=$((fallos + 1))
  fi
  grep -E '^#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb' "$trabajo/$objetivo.log" | sed 's/^/   /' || true
  if [ $guardar = 1 ]; then
    "$build/bin/$objetivo" -merge=1 "$semillas" "$nuevo" 2>/dev/null
    echo "   seeds now: $(find "$semillas" -type f | wc -l) files"
  fi
done
exit $fallos
