#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what Debian's clang-format 14 makes of it with the
# checked-in .clang-format, and names every such file. `clang-format-14 -i FILE` formats one.
set -euo pipefail
raiz=$(cd "$(dirname "$0")/.." && pwd)
cd "$raiz"
formateador=clang-format-14
if ! command -v "$formateador" >/dev/null; then
  echo "falta $formateador (scripts/dependencias.sh lo instala)" >&2
  exit 2
fi
informe=$(mktemp)
trap 'rm -f "$informe"' EXIT
mapfile -d '' archivos < <(git ls-files -z -- '*.cpp' '*.h')
if ! "$formateador" --dry-run -Werror "${archivos[@]}" 2>"$informe"; then
  grep -o '^[^:]*:[0-9]*:[0-9]*: error' "$informe" | cut -d: -f1 | sort -u | sed 's/^/sin formato: /' >&2
  exit 1
fi
echo "formato: ${#archivos[@]} archivos C++ en orden"
