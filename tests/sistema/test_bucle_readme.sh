#!/bin/bash
# The administrator's guide's loop over several databases, taken from the guide and run as written (only its
# folder /datos/ is replaced) over four demo databases: one to purge, one already purged, one
# whose 2022 is open, and one more after it. The loop purges the first, passes over the second,
# stops at the third naming it, and never reaches the fourth; its log names each database.
#
#   test_bucle_readme.sh docs/guia-del-administrador.md CRIBANZAS GENERAR_DEMO
#
# Exits 77 (skipped) without sqlite3.
set -u
. "$(dirname "$0")/../apoyo/comun.sh"
README=$1
CRIBANZAS=$(realpath "$2")
GENERAR=$3
requerir sqlite3

TRABAJO=$(mktemp -d)
trap 'rm -rf "$TRABAJO"' EXIT
# The first sh block after the loop's introduction.
awk '/^A loop over several databases/ { buscar = 1 }
     buscar && /^```sh$/ { dentro = 1; next }
     dentro && /^```$/ { exit }
     dentro { print }' "$README" >"$TRABAJO/bucle.sh"
grep -q 'for db in /datos/\*\.db' "$TRABAJO/bucle.sh" || { fallo "no está el bucle en $README"; terminar; }
sed -i "s|/datos/|$TRABAJO/datos/|g" "$TRABAJO/bucle.sh"

mkdir -p "$TRABAJO/datos" "$TRABAJO/build/bin"
ln -s "$CRIBANZAS" "$TRABAJO/build/bin/cribanzas"
D=$TRABAJO/datos
"$GENERAR" --movimientos 200 --asientos 40 --filas-consulta 5 "$D/a-depurar.db" >/dev/null || exit 1
for nombre in b-depurada c-abierto d-sin-tocar; do
    cp "$D/a-depurar.db" "$D/$nombre.db"
done
env -u QT_QPA_PLATFORM "$CRIBANZAS" --desatendido --ejercicio 2022 --confirmar \
    "$(linea_suite "$D/b-depurada.db")" >/dev/null 2>&1 || fallo "no se pudo depurar b-depurada"
sqlite3 "$D/c-abierto.db" "UPDATE MV_EJERCICIOS SET Cerrado = 0, CIERRE = 0 WHERE PERIODO = 2022" || exit 1
intacta=$(sqlite3 "$D/d-sin-tocar.db" .dump | md5sum)

(cd "$TRABAJO" && env -u QT_QPA_PLATFORM bash bucle.sh) >"$TRABAJO/salida.txt" 2>&1
estado=$?
esperado="$D/a-depurar.db: depurado
$D/b-depurada.db: nada que depurar
$D/c-abierto.db: estado 1, ver purga-2022.log"
[ "$(cat "$TRABAJO/salida.txt")" == "$esperado" ] || fallo "el bucle dijo:" "$(cat "$TRABAJO/salida.txt")"
[ $estado == 0 ] || fallo "el bucle terminó con estado $estado"
BASE=$D/a-depurar.db
[ "$(q "SELECT COUNT(*) FROM TA_CONFIGURACION WHERE CLAVE = 'FECHAULTIMADEPURACION' AND VALOR = '01/01/2022'")" == 1 ] ||
    fallo "a-depurar no quedó depurada"
[ "$(sqlite3 "$D/d-sin-tocar.db" .dump | md5sum)" == "$intacta" ] || fallo "el bucle siguió después de c-abierto"
# The log: one part per database reached, in order, the refusal under its own database.
registro=$TRABAJO/purga-2022.log
[ "$(grep '^=== ' "$registro")" == "=== $D/a-depurar.db
=== $D/b-depurada.db
=== $D/c-abierto.db" ] || fallo "el registro no nombra las bases" "$(grep '^=== ' "$registro")"
sed -n "\|^=== $D/c-abierto.db|,\$p" "$registro" | grep -q "debe estar cerrado" ||
    fallo "el rechazo no está bajo c-abierto"

terminar
