#!/usr/bin/env bash
# One command from a fresh machine: installs what is missing, builds, creates a demo
# database and opens the purge window on it. Without a display it runs an unattended
# dry run and then an unattended purge of the demo database instead.
set -euo pipefail
raiz=$(cd "$(dirname "$0")/.." && pwd)
"$raiz/scripts/dependencias.sh"
"$raiz/scripts/compilar.sh"
demo="$raiz/build/demo/conta.db"
mkdir -p "$(dirname "$demo")"
"$raiz/build/bin/generar_demo" "$demo"
linea="@Server=;@DbName=$demo;@Usuario=;@Password=;@UsuarioLogeado=demo;@Caja=1;"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$raiz/build/bin/cribanzas" "$linea"
fi
echo "No hay pantalla disponible (DISPLAY no está definido): se ejecuta la depuración desatendida del ejercicio 2022 sobre la base de demostración."
echo "== Simulación"
"$raiz/build/bin/cribanzas" --desatendido --ejercicio 2022 --simular "$linea"
echo "== Depuración"
"$raiz/build/bin/cribanzas" --desatendido --ejercicio 2022 --confirmar "$linea"
