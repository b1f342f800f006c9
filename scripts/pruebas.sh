#!/usr/bin/env bash
# One command from a fresh machine: installs what is missing, checks the C++ formatting (it
# fails in seconds, before any build), builds into build/ with warnings as errors, checks the
# length and complexity of the program's functions, and runs every test; builds once more
# with clang, AddressSanitizer and UndefinedBehaviorSanitizer (with the fuzz targets) into
# build-asan/ and runs the tests there too.
set -euo pipefail
raiz=$(cd "$(dirname "$0")/.." && pwd)
export QT_QPA_PLATFORM=offscreen
# Each phase is headed with the seconds spent so far, so that a slow run shows where it went.
fase() { echo "== $1 (${SECONDS} s)"; }
"$raiz/scripts/dependencias.sh"
"$raiz/scripts/formato.sh"
# Every warning is an error here, in both builds.
fase "Compilación (build/)"
"$raiz/scripts/compilar.sh" -DCRIBANZAS_WERROR=ON
fase "Longitud y complejidad de las funciones"
"$raiz/scripts/complejidad.sh" "$raiz/build"

# The sanitizer build compiles, at low priority, while the first pass's tests mostly wait on
# other processes, windows and locks; its output is shown if it fails.
sanitizadores=1
[ "${CRIBANZAS_SIN_SANITIZADORES:-0}" = 1 ] && sanitizadores=0
if [ $sanitizadores = 1 ]; then
  CC=clang CXX=clang++ cmake -S "$raiz" -B "$raiz/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCRIBANZAS_SANITIZE=ON -DCRIBANZAS_FUZZ=ON -DCRIBANZAS_BENCH=OFF -DCRIBANZAS_WERROR=ON >/dev/null
  # In a process group of its own, so that a failure of the first pass stops the whole build.
  setsid nice -n 19 cmake --build "$raiz/build-asan" >"$raiz/build-asan/compilacion.log" 2>&1 &
  compilacion=$!
  trap 'kill -- -$compilacion 2>/dev/null || true' EXIT
fi

fase "Pruebas (build/)"
ctest --test-dir "$raiz/build" --output-on-failure -j2 --timeout 600

if [ $sanitizadores = 1 ]; then
  fase "Esperando la compilación con sanitizadores"
  if ! wait $compilacion; then
    tail -n 60 "$raiz/build-asan/compilacion.log"
    exit 1
  fi
  trap - EXIT
  fase "Pruebas con AddressSanitizer y UndefinedBehaviorSanitizer (build-asan/)"
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
  export LSAN_OPTIONS=suppressions=$raiz/tests/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  # Here the sanitizers look at the code, not the timing: the statement grammar, the windows
  # under X, the packages, the long multi-process loops and the kill-and-resume runs (killed
  # processes report nothing; the resumed runs' code is exercised by the resumption tests)
  # ran above and say nothing new.
  ctest --test-dir "$raiz/build-asan" --output-on-failure -j2 --timeout 900 \
    -LE 'gramatica|x11|instalacion' \
    -E 'Retenida|ParesQueEmpiezanJuntosEnElArchivo|empaquetado\.|/Interrupcion\.'
fi
fase "Fin"
