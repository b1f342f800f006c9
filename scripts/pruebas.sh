#!/usr/bin/env bash
# One command from a fresh machine: installs what is missing, checks the C++ formatting (it
# fails in seconds, before any build), builds into build/ and runs every test; then builds once more with
# clang, AddressSanitizer and UndefinedBehaviorSanitizer (with the fuzz targets) into
# build-asan/ and runs every test there too.
set -euo pipefail
raiz=$(cd "$(dirname "$0")/.." && pwd)
export QT_QPA_PLATFORM=offscreen
"$raiz/scripts/dependencias.sh"
"$raiz/scripts/formato.sh"
"$raiz/scripts/compilar.sh"
echo "== Pruebas (build/)"
ctest --test-dir "$raiz/build" --output-on-failure -j2 --timeout 600

if [ "${CRIBANZAS_SIN_SANITIZADORES:-0}" != 1 ]; then
  echo "== Pruebas con AddressSanitizer y UndefinedBehaviorSanitizer (build-asan/)"
  CC=clang CXX=clang++ cmake -S "$raiz" -B "$raiz/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCRIBANZAS_SANITIZE=ON -DCRIBANZAS_FUZZ=ON -DCRIBANZAS_BENCH=OFF >/dev/null
  cmake --build "$raiz/build-asan"
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
  export LSAN_OPTIONS=suppressions=$raiz/tests/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  # Here the sanitizers look at the code, not the timing: the statement grammar, the windows
  # under X, the packages and the long multi-process loops ran above and say nothing new.
  ctest --test-dir "$raiz/build-asan" --output-on-failure -j2 --timeout 900 \
    -LE 'gramatica|x11|instalacion' -E 'Retenida|ParesQueEmpiezanJuntosEnElArchivo|empaquetado\.'
fi
