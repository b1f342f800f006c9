#!/bin/bash
# Another station writes for several seconds while the unattended purge runs on the same SQLite
# file: the purge waits for it (the command time-out, not a few seconds), says so on its
# progress lines, and ends with status 0.
#
#   test_espera.sh CRIBANZAS GENERAR_DEMO
#
# Exits 77 (skipped) without sqlite3.
set -u
. "$(dirname "$0")/../apoyo/comun.sh"
CRIBANZAS=$1
GENERAR=$2
requerir sqlite3

TRABAJO=$(mktemp -d)
otro=
trap '[ -n "$otro" ] && kill "$otro" 2>/dev/null; rm -rf "$TRABAJO"' EXIT
BASE=$TRABAJO/conta.db
"$GENERAR" --movimientos 300 --asientos 60 --filas-consulta 5 "$BASE" >/dev/null || exit 1

# The other station: a write transaction held for 5 s, then committed.
sqlite3 "$BASE" >/dev/null 2>&1 <<FIN &
BEGIN IMMEDIATE;
UPDATE TA_CONFIGURACION SET VALOR = VALOR WHERE CLAVE = 'CLetra';
.shell touch $TRABAJO/tomado && sleep 5
COMMIT;
FIN
otro=$!
for _ in $(seq 100); do
    [ -e "$TRABAJO/tomado" ] && break
    sleep 0.05
done
[ -e "$TRABAJO/tomado" ] || { fallo "la otra estación no tomó la base"; terminar; }

inicio=$(date +%s%N)
env -u QT_QPA_PLATFORM "$CRIBANZAS" --desatendido --ejercicio 2022 --confirmar "$(linea_suite "$BASE")" \
    >"$TRABAJO/salida.txt" 2>&1
estado=$?
ms=$((($(date +%s%N) - inicio) / 1000000))
wait "$otro"
otro=
[ $estado == 0 ] || fallo "estado $estado tras $ms ms" "$(tail -4 "$TRABAJO/salida.txt")"
[ $ms -ge 3000 ] || fallo "no esperó: $ms ms"
grep -q "^Esperando a otra estación… | .*360 s).* | [0-9]* s$" "$TRABAJO/salida.txt" ||
    fallo "la espera no se mostró" "$(head -20 "$TRABAJO/salida.txt")"
grep -q "El proceso finalizó con éxito" "$TRABAJO/salida.txt" || fallo "la depuración no terminó"
[ "$(q "SELECT VALOR FROM TA_CONFIGURACION WHERE CLAVE = 'FECHAULTIMADEPURACION'")" == 01/01/2022 ] ||
    fallo "FECHAULTIMADEPURACION"
echo "esperó $ms ms"

terminar
