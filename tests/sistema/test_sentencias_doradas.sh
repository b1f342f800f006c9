#!/bin/bash
# What the program sends and leaves, held to the recorded files in tests/sistema/doradas: for
# each run below, its exit status, its statement log (the time column set aside) and the dump
# of its database afterwards. A change that alters the statements on purpose regenerates the
# files in the same commit:
#
#   CRIBANZAS_REGENERAR=1 ctest --test-dir build -R sentencias_doradas
#
# The runs: a purge of the demo database (through Qt's SQLite driver and through a SQLite3 ODBC
# data source), a refused year, a dry run and the purge that finishes an interrupted one
# (mode "depuracion"); the lookup example through each of the four default masks, under Xvfb,
# each dialog closed with Escape (mode "consulta").
#
#   test_sentencias_doradas.sh depuracion CRIBANZAS GENERAR_DEMO DORADAS
#   test_sentencias_doradas.sh consulta CONSULTA GENERAR_DEMO DORADAS
#
# In the logs, the progress record's owner (its run token and start time) and this machine's
# name, its station, are written as <dueño> and <estación>: they differ from run to run and
# from machine to machine. Exits 77 (skipped) without sqlite3, the SQLite3 ODBC driver or, for
# the lookup, Xvfb.
set -u
. "$(dirname "$0")/../apoyo/x11.sh"

if [ "${1:-}" == --dentro ]; then
    # Inside Xvfb: the lookups.
    shift
    CONSULTA=$1
    BASE=$2
    SALIDA=$3
    x11_gestor
    for tabla in V_MA_ARTICULOS VT_CLIENTES VT_PROVEEDORES MA_CONTACTOS; do
        "$CONSULTA" --registro-sentencias "$SALIDA/$tabla.log" "$(linea_suite "$BASE")" "$tabla" \
            >"$SALIDA/$tabla.json" 2>"$SALIDA/$tabla.err" &
        pid=$!
        ventana "Consulta\.\.\." >/dev/null && xdotool key Escape
        for _ in $(seq 100); do
            kill -0 $pid 2>/dev/null || break
            sleep 0.1
        done
        kill $pid 2>/dev/null
        wait $pid
        echo $? >"$SALIDA/$tabla.estado"
    done
    exit 0
fi

MODO=$1
PROGRAMA=$2
GENERAR=$3
DORADAS=$4
requerir sqlite3

TRABAJO=$(mktemp -d)
trap 'rm -rf "$TRABAJO"' EXIT
# The program from a folder of its own: the masks file it writes beside itself is the default one.
mkdir "$TRABAJO/programa"
cp "$PROGRAMA" "$TRABAJO/programa/" || exit 1
PROGRAMA=$TRABAJO/programa/$(basename "$PROGRAMA")
MODELO=$TRABAJO/modelo.db
"$GENERAR" --movimientos 300 --asientos 60 --filas-consulta 4 "$MODELO" >/dev/null || exit 1
sqlite3 "$MODELO" .dump >"$TRABAJO/modelo.sql" || exit 1
ESTACION=$(hostname)
# The purge archives go to the scratch folder; their names carry the time of the run.
export XDG_DATA_HOME=$TRABAJO/datos
HORA_ARCHIVO='s#-[0-9]{8}-[0-9]{6}(-[0-9]+)?(\.sqlite|-libro-diario\.pdf|-existencias\.pdf)#-<hora>\2#g'

# The log as compared: statement and outcome, the owner and the station set aside.
normalizar() {
    cut -f2- "$1" |
        sed -E -e 's#;[0-9a-f]{16};[0-9]{2}/[0-9]{2}/[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2};#;<dueño>;#g' \
            -e "s#;${#ESTACION}:${ESTACION};#;<estación>;#g" \
            -e "s#;${#ESTACION}:${ESTACION}'#;<estación>'#g" -e "$HORA_ARCHIVO"
}

# One run's record: its status, what it said, its statements, and what it changed in the
# database (the lines of the dump that went and came, against the model's).
registrar() {
    local nombre=$1 estado=$2 log=$3 base=$4 salida=$5
    {
        echo "== estado"
        echo "$estado"
        echo "== salida"
        # How many of the listings' progress lines reach a log depends on the machine's speed
        # (the final message names the listings): none is kept.
        [ -f "$salida" ] && sed -E -e "s#$TRABAJO#<trabajo>#g" -e "$HORA_ARCHIVO" \
            -e '/^Emitiendo los listados de la depuración \|/d' "$salida"
        echo "== sentencias"
        [ -f "$log" ] && normalizar "$log"
        echo "== cambios en la base"
        sqlite3 "$base" .dump | diff "$TRABAJO/modelo.sql" - | grep '^[<>]'
    } >"$TRABAJO/$nombre.txt"
    if [ "${CRIBANZAS_REGENERAR:-0}" == 1 ]; then
        cp "$TRABAJO/$nombre.txt" "$DORADAS/$nombre.txt"
        echo "regenerado: $nombre"
    elif [ ! -f "$DORADAS/$nombre.txt" ]; then
        fallo "$nombre: falta $DORADAS/$nombre.txt (CRIBANZAS_REGENERAR=1 lo escribe)"
    elif ! cmp -s "$DORADAS/$nombre.txt" "$TRABAJO/$nombre.txt"; then
        fallo "$nombre: difiere de lo registrado"
        diff "$DORADAS/$nombre.txt" "$TRABAJO/$nombre.txt" | head -20
    fi
}

# An unattended run on a copy of the model: name, how to prepare the copy (SQL, may be empty),
# the options.
desatendida() {
    local nombre=$1 preparar=$2
    shift 2
    local base=$TRABAJO/$nombre.db
    cp "$MODELO" "$base"
    [ -n "$preparar" ] && { sqlite3 "$base" "$preparar" || exit 1; }
    env -u LANG -u LANGUAGE -u QT_QPA_PLATFORM LC_ALL=C.UTF-8 \
        "$PROGRAMA" --desatendido --registro-sentencias "$TRABAJO/$nombre.log" "$@" \
        "$(linea_suite "$base")" >"$TRABAJO/$nombre.salida" 2>&1
    registrar "$nombre" $? "$TRABAJO/$nombre.log" "$base" "$TRABAJO/$nombre.salida"
}

if [ "$MODO" == depuracion ]; then
    desatendida depuracion "" --ejercicio 2022 --confirmar
    desatendida ejercicio_rechazado "" --ejercicio 2024 --confirmar
    desatendida simulacion "" --ejercicio 2022 --simular
    # A purge of 2022 that stopped once the journal was gone: the period set to the year, the
    # record of its start (an earlier run's owner) still there, the stock still to carry.
    desatendida reanudacion "DELETE FROM MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022;
        UPDATE TA_CONFIGURACION SET VALOR = '01/01/2022' WHERE CLAVE = 'fechaoperdesde';
        UPDATE TA_CONFIGURACION SET VALOR = '31/12/2022' WHERE CLAVE = 'fechaoperhasta';
        INSERT INTO TA_CONFIGURACION (Grupo, CLAVE, VALOR) VALUES ('DATOS', 'DEPURACIONPENDIENTE',
            '2022;A;10:01/01/2025;10:31/12/2025;3f9a0c27d41e8b65;31/01/2025 10:15:02;5:PC-07;3:ana')" \
        --ejercicio 2022 --confirmar
    # The same purge through the other route.
    if odbcinst -q -d 2>/dev/null | grep -q '^\[SQLite3\]'; then
        base=$TRABAJO/odbc.db
        cp "$MODELO" "$base"
        printf '[Doradas]\nDriver=SQLite3\nDatabase=%s\nTimeout=3000\n' "$base" >"$TRABAJO/odbc.ini"
        env -u LANG -u LANGUAGE -u QT_QPA_PLATFORM LC_ALL=C.UTF-8 ODBCINI="$TRABAJO/odbc.ini" \
            ASAN_OPTIONS="${ASAN_OPTIONS:-}:fast_unwind_on_malloc=0" \
            "$PROGRAMA" --desatendido --registro-sentencias "$TRABAJO/odbc.log" --ejercicio 2022 \
            --confirmar "$(linea_suite Doradas)" >"$TRABAJO/odbc.salida" 2>&1
        registrar depuracion_odbc $? "$TRABAJO/odbc.log" "$base" "$TRABAJO/odbc.salida"
    else
        fallo "falta el controlador ODBC SQLite3: la ruta ODBC no se comparó"
    fi
elif [ "$MODO" == consulta ]; then
    x11_requerir
    mkdir -p "$TRABAJO/consultas"
    # The masks file is written beside the program, or in the user's folder: a scratch one.
    env -u QT_QPA_PLATFORM LC_ALL=C.UTF-8 XDG_CONFIG_HOME="$TRABAJO/config" \
        CRIBANZAS_CARPETA_SISTEMA="$TRABAJO/sistema" \
        timeout 180 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --dentro "$PROGRAMA" "$MODELO" \
        "$TRABAJO/consultas" || fallo "las consultas no terminaron"
    for tabla in V_MA_ARTICULOS VT_CLIENTES VT_PROVEEDORES MA_CONTACTOS; do
        registrar "consulta_$tabla" "$(cat "$TRABAJO/consultas/$tabla.estado" 2>/dev/null)" \
            "$TRABAJO/consultas/$tabla.log" "$MODELO" "$TRABAJO/consultas/$tabla.json"
    done
else
    echo "modo desconocido: $MODO"
    exit 2
fi
terminar
