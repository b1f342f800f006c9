#!/usr/bin/env bash
# Fails when a function in src/ is longer than 80 lines or more complex than the cognitive
# complexity of 40 (.clang-tidy), and names it. Reads the compilation database of a configured
# build (build/ unless another is given); both cores. The compiler's own warnings are the
# builds' business (clang reads -Wconversion wider than GCC, which wrote the database).
set -euo pipefail
raiz=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$raiz/build}
cd "$raiz"
revisor=clang-tidy-14
if ! command -v "$revisor" >/dev/null; then
  echo "falta $revisor (scripts/dependencias.sh lo instala)" >&2
  exit 2
fi
if [ ! -f "$build/compile_commands.json" ]; then
  echo "falta $build/compile_commands.json: configure la compilación primero (scripts/compilar.sh)" >&2
  exit 2
fi
informe=$(mktemp)
trap 'rm -f "$informe"' EXIT
inicio=$(date +%s)
mapfile -d '' archivos < <(git ls-files -z -- 'src/*.cpp')
if ! printf '%s\0' "${archivos[@]}" |
  xargs -0 -P 2 -n 4 "$revisor" -p "$build" --quiet --extra-arg=-Wno-everything >"$informe" 2>&1; then
  grep -E 'warning:|error:' "$informe" >&2 || cat "$informe" >&2
  echo "complejidad: hay funciones demasiado largas o complejas (límites en .clang-tidy)" >&2
  exit 1
fi
echo "complejidad: ${#archivos[@]} archivos de src/ dentro de los límites ($(($(date +%s) - inicio)) s)"
