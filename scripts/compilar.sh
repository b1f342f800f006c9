#!/usr/bin/env bash
# Configures and builds the project into build/ (Release with debug info).
set -euo pipefail
raiz=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$raiz" -B "$raiz/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$raiz/build"
