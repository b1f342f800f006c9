#!/bin/bash
# The same unattended purge through Qt's SQLite driver and through a SQLite3 ODBC data source,
# under the C locale and under es_AR.UTF-8: the four databases must dump identically, and hold
# the exact balances and texts.
#
#   test_paridad.sh CRIBANZAS GENERAR_DEMO
#
# Exits 77 (skipped) without sqlite3, the SQLite3 ODBC driver or the es_AR.UTF-8 locale.
set -u
. "$(dirname "$0")/../apoyo/comun.sh"
CRIBANZAS=$1
GENERAR=$2

requerir sqlite3
odbcinst -q -d 2>/dev/null | grep -q '^\[SQLite3\]' || omitir "falta el controlador ODBC SQLite3"
hay_es_AR || omitir "falta el locale es_AR.UTF-8"

TRABAJO=$(mktemp -d)
trap 'rm -rf "$TRABAJO"' EXIT
MODELO=$TRABAJO/modelo.db
"$GENERAR" --movimientos 1500 --asientos 300 --filas-consulta 20 "$MODELO" >/dev/null || exit 1
# The first balance group sums to a whole number (SQLite's ODBC driver types the SUM column
# from it), a later one to 12.75 and 0.75; descriptions beyond ASCII.
sqlite3 "$MODELO" "INSERT INTO V_MV_STOCK (TC, IDCOMPROBANTE, SECUENCIA, FECHA, IDARTICULO, DESCRIPCION,
    IDUNIDAD, CANTIDAD, CantidadUD, Anulado, ControladoPor) VALUES
    ('RC', '000900000001R', 1, '2022-03-01', 'AAA-00001', 'Caño', 'UN', 10, 0, 0, 'Compras'),
    ('RC', '000900000001R', 2, '2022-03-01', 'AAA-00002', 'Ñandú', 'KG', 12.5, 0.5, 0, 'Compras'),
    ('RC', '000900000002R', 1, '2022-04-01', 'AAA-00002', 'Ñandú', 'KG', 0.25, 0.25, 0, 'Compras')" || exit 1
primero=$(sqlite3 "$MODELO" "SELECT IDArticulo FROM V_MV_STOCK WHERE FECHA <= '2022-12-31'
    AND COALESCE(Anulado, 0) = 0 GROUP BY IDArticulo, IDUnidad, IdDeposito, IdPosicion, NroSerie,
    NroLote, Descripcion LIMIT 1")
[ "$primero" == "AAA-00001" ] || { echo "el primer grupo es $primero, no el entero"; exit 1; }

referencia=
for ruta in sqlite odbc; do
    for loc in C es_AR.UTF-8; do
        base=$TRABAJO/$ruta-$loc.db
        cp "$MODELO" "$base"
        nombre=$base
        if [ $ruta == odbc ]; then
            nombre=Paridad
            printf '[Paridad]\nDriver=SQLite3\nDatabase=%s\nTimeout=3000\n' "$base" >"$TRABAJO/odbc.ini"
        fi
        # Under the sanitizers the ODBC driver is unloaded before the leak check: whole stacks let
        # the suppressions recognise its allocations by the driver manager's frames.
        env -u LANG -u LANGUAGE -u QT_QPA_PLATFORM LC_ALL=$loc ODBCINI="$TRABAJO/odbc.ini" \
            ASAN_OPTIONS="${ASAN_OPTIONS:-}:fast_unwind_on_malloc=0" \
            "$CRIBANZAS" --desatendido --ejercicio 2022 --confirmar \
            "$(linea_suite "$nombre")" \
            >"$TRABAJO/salida.txt" 2>&1
        estado=$?
        [ $estado == 0 ] || fallo "$ruta $loc: estado $estado" "$(tail -5 "$TRABAJO/salida.txt")"
        sqlite3 "$base" .dump >"$base.sql"
        if [ -z "$referencia" ]; then
            referencia=$base.sql
        elif ! cmp -s "$referencia" "$base.sql"; then
            fallo "$ruta $loc deja otra base que sqlite C"
            diff "$referencia" "$base.sql" | head -6
        fi
    done
done

# The reference itself holds the exact values (all four could be equally wrong).
BASE=$TRABAJO/sqlite-C.db
[ "$(q "SELECT printf('%.4f|%.4f|', CANTIDAD, CantidadUD) || (DESCRIPCION = 'Ñandú') FROM V_MV_STOCK
        WHERE TC = 'SI' AND IDARTICULO = 'AAA-00002'")" == "12.7500|0.7500|1" ] || fallo "el saldo de Ñandú"
[ "$(q "SELECT DESCRIPCION = 'Caño' FROM V_MV_STOCK WHERE TC = 'SI' AND IDARTICULO = 'AAA-00001'")" == 1 ] ||
    fallo "la descripción de Caño"
[ "$(q "SELECT VALOR FROM TA_CONFIGURACION WHERE CLAVE = 'FECHAULTIMADEPURACION'")" == "01/01/2022" ] ||
    fallo "FECHAULTIMADEPURACION"

terminar
