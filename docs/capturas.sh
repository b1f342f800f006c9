#!/bin/bash
# The operator's guide's screenshots, taken from the real programs under Xvfb with openbox and
# driven by xdotool: the connection dialog, the purge window and its year list, a year refused,
# the question, the wait for another writer, the success, a year already purged, the offer to finish an unfinished purge, the
# refusal while another station purges (a held unattended purge), and the lookup dialog. Each
# picture is cropped to its window (frame included) and written as PNG-8.
#
#   docs/capturas.sh CARPETA BIN
#
# BIN holds cribanzas, consulta, generar_demo and asistente_purga (build/bin). Then every picture
# the guide shows must be in CARPETA, or the script fails naming what is missing. To refresh the
# committed pictures: docs/capturas.sh docs/capturas build/bin
#
# Exits 77 (skipped) when Xvfb, openbox, xdotool, x11-utils, ImageMagick or sqlite3 is missing.
set -u
DOCS=$(cd "$(dirname "$0")" && pwd)
. "$DOCS/../tests/apoyo/x11.sh"

if [ "${1:-}" != "--dentro" ]; then
    [ $# -eq 2 ] || { echo "uso: $0 CARPETA BIN" >&2; exit 64; }
    x11_requerir import convert identify sqlite3
    mkdir -p "$1" || exit 1
    SALIDA=$(cd "$1" && pwd)
    BIN=$(cd "$2" && pwd)
    for p in cribanzas consulta generar_demo asistente_purga; do
        [ -x "$BIN/$p" ] || { echo "falta $BIN/$p" >&2; exit 1; }
    done
    TRABAJO=$(mktemp -d)
    trap 'rm -rf "$TRABAJO"' EXIT
    "$BIN/generar_demo" --movimientos 600 --asientos 200 --filas-consulta 40 "$TRABAJO/modelo.db" >/dev/null ||
        exit 1
    # The user's folders and the data sources in the scratch folder: the pictures show the same
    # on every machine.
    mkdir -p "$TRABAJO/casa" "$TRABAJO/odbc"
    [ -f /etc/odbcinst.ini ] && cp /etc/odbcinst.ini "$TRABAJO/odbc/"
    : >"$TRABAJO/odbc/odbc.ini"
    printf '[CONTA]\nDriver = FreeTDS\nServer = sqlserver.example.local\nPort = 1433\nDatabase = CONTA\n\n' \
        >"$TRABAJO/odbc/usuario.ini"
    printf '[CONTA_PRUEBA]\nDriver = SQLite3\nDatabase = %s\n' "$TRABAJO/modelo.db" >>"$TRABAJO/odbc/usuario.ini"
    export HOME=$TRABAJO/casa XDG_CONFIG_HOME=$TRABAJO/casa/.config XDG_CACHE_HOME=$TRABAJO/casa/.cache
    export XDG_DATA_HOME=$TRABAJO/casa/.local/share XDG_STATE_HOME=$TRABAJO/casa/.local/state
    export ODBCSYSINI=$TRABAJO/odbc ODBCINI=$TRABAJO/odbc/usuario.ini CRIBANZAS_CARPETA_SISTEMA=$TRABAJO/etc
    unset QT_QPA_PLATFORM
    if hay_es_AR; then export LC_ALL=es_AR.UTF-8; else export LC_ALL=C.UTF-8; fi
    timeout 120 xvfb-run -a -s "-screen 0 1024x768x24 -wr" "$0" --dentro "$SALIDA" "$BIN" "$TRABAJO"
    e=$?
    [ $e -eq 0 ] || exit $e
    # Every picture the guide shows was taken.
    faltan=0
    for f in $(grep -o '(capturas/[^)]*\.png)' "$DOCS/guia-del-operador.md" | tr -d '()' | sort -u); do
        [ -s "$SALIDA/${f#capturas/}" ] || { echo "FALLO: no se tomó $f"; faltan=$((faltan + 1)); }
    done
    [ $faltan -eq 0 ] && echo "ok: $(ls "$SALIDA"/*.png | wc -l) capturas en $SALIDA"
    exit $((faltan > 0))
fi

SALIDA=$2
BIN=$3
TRABAJO=$4
x11_gestor

# The rectangle of a window with its window manager's frame: x y width height.
rectangulo() {
    local x y an al iz de ar ab
    read -r x y an al < <(xwininfo -id "$1" | awk '/Absolute upper-left X/ {x = $NF}
        /Absolute upper-left Y/ {y = $NF} /Width:/ {w = $NF} /Height:/ {h = $NF} END {print x, y, w, h}')
    read -r iz de ar ab < <(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= *//p' | tr -d ,)
    echo $((x - ${iz:-0})) $((y - ${ar:-0})) $((an + ${iz:-0} + ${de:-0})) $((al + ${ar:-0} + ${ab:-0}))
}

# Takes the picture NAME of the windows given (their union), once they have painted.
capturar() {
    local nombre=$1 x0=100000 y0=100000 x1=0 y1=0 x y an al id
    shift
    if [ $# -eq 0 ]; then
        fallo "no hay ventana para $nombre"
        return 1
    fi
    sleep 0.4
    for id in "$@"; do
        read -r x y an al < <(rectangulo "$id")
        ((x < x0)) && x0=$x
        ((y < y0)) && y0=$y
        ((x + an > x1)) && x1=$((x + an))
        ((y + al > y1)) && y1=$((y + al))
    done
    ((x0 < 0)) && x0=0
    ((y0 < 0)) && y0=0
    rm -f "$SALIDA/$nombre.png"
    import -window root png:- 2>/dev/null |
        convert png:- -crop "$((x1 - x0))x$((y1 - y0))+$x0+$y0" +repage -strip \
            -define png:compression-level=9 "PNG8:$SALIDA/$nombre.png"
    # A crop that missed the windows leaves a picture of a pixel or none.
    [ "$(identify -format '%w' "$SALIDA/$nombre.png" 2>/dev/null || echo 0)" -ge 100 ] ||
        fallo "no se pudo tomar $nombre"
}

# The visible window titled TITLE (a regular expression) other than the window EXCEPT, once it
# shows, with the focus; prints its id.
otra_ventana() {
    local id
    for _ in $(seq 100); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | grep -vx "${2:-0}" | head -1)
        if [ -n "$id" ]; then
            xdotool windowfocus --sync "$id" 2>/dev/null
            sleep 0.5
            echo "$id"
            return 0
        fi
        sleep 0.1
    done
    echo "no se mostró \"$1\"" >&2
    return 1
}

# Waits until the window with that id is gone.
cerrada() {
    for _ in $(seq 50); do
        xwininfo -id "$1" 2>/dev/null | grep -q 'IsViewable' || return 0
        sleep 0.1
    done
    fallo "la ventana $1 no se cerró"
}

# Takes the picture of the box titled TITLE (not the window EXCEPT) and answers it with KEY.
caja() {
    local titulo=$1 tecla=$2 nombre=$3 id
    if ! id=$(otra_ventana "$titulo" "${4:-0}"); then
        fallo "no se mostró la caja de $nombre"
        return 1
    fi
    [ -n "$nombre" ] && capturar "$nombre" "$id"
    xdotool key "$tecla"
    cerrada "$id"
}

linea() {
    echo "@Server=;@DbName=$1;@Usuario=;@Password=;@UsuarioLogeado=${2:-ana};@Caja=1;"
}
# The purge window on a database, in the background, ended after a minute at most.
lanzar() {
    timeout -k 5 60 "$BIN/cribanzas" "$@" >>"$TRABAJO/salida.txt" 2>&1 &
    pid=$!
}
esperar() {
    wait "$pid"
    local e=$?
    [ "$e" == "${1:-0}" ] || fallo "cribanzas terminó con estado $e: $(tail -5 "$TRABAJO/salida.txt")"
}
# The year box: Aceptar has the focus, the box is two tabs away.
escribir_anio() {
    xdotool key Tab Tab
    xdotool type --delay 40 "$1"
}
salir() {
    xdotool windowactivate --sync "$1" 2>/dev/null && xdotool key alt+F4
}
AVISO='^Aviso al operador$'

# ---- Started from the menu: the connection dialog -------------------------------------------
lanzar
if id=$(ventana '^Conexi.* con la base de datos$'); then
    xdotool key Tab
    xdotool type --delay 20 "ana"
    xdotool key Tab
    capturar conexion "$id"
    xdotool key Escape
fi
esperar 4

# ---- A whole purge: the window, the list, a refused year, the question, the success ----------
BASE=$TRABAJO/purga.db
cp "$TRABAJO/modelo.db" "$BASE"
lanzar "$(linea "$BASE")"
if VENTANA=$(ventana '^Cribanzas$'); then
    capturar ventana "$VENTANA"
    xdotool key Tab Tab alt+Down
    sleep 0.5
    # The drop-down list is a window of its own, over the window (timeout runs the program).
    capturar lista_de_ejercicios $(xdotool search --onlyvisible --pid "$(pgrep -P "$pid" | head -1)" 2>/dev/null)
    xdotool key Escape
    xdotool key ctrl+a
    xdotool type --delay 40 "2024"
    xdotool key Return
    caja "$AVISO" Return no_cerrado
    xdotool key ctrl+a
    xdotool type --delay 40 "2022"
    xdotool key Return
    capturar ejercicio_elegido "$VENTANA"
    xdotool key Tab Return
    # Another connection holds the write lock for a while: the purge, answered Yes, waits and
    # says so.
    { echo 'BEGIN IMMEDIATE;'; sleep 6; echo 'COMMIT;'; } | sqlite3 "$BASE" &
    ocupante=$!
    sleep 0.5
    caja "$AVISO" Return pregunta
    # The progress window takes no focus: it is only looked for.
    for _ in $(seq 100); do
        id=$(xdotool search --onlyvisible --name '^Base de datos ocupada$' 2>/dev/null | head -1)
        [ -n "$id" ] && break
        sleep 0.1
    done
    if [ -n "$id" ]; then capturar espera "$VENTANA" "$id"; else fallo "no se mostró la espera"; fi
    wait $ocupante
    caja "$AVISO" Return exito
fi
esperar

# The same year again: nothing left to purge (the box has the window's title).
lanzar "$(linea "$BASE")"
if VENTANA=$(ventana '^Cribanzas$'); then
    escribir_anio 2022
    xdotool key Tab Return
    caja '^Cribanzas$' Return ya_depurado "$VENTANA"
    salir "$VENTANA"
fi
esperar

# ---- A purge cut short after its journal deletion: the offer to finish it -----------------------
BASE=$TRABAJO/pendiente.db
cp "$TRABAJO/modelo.db" "$BASE"
sqlite3 "$BASE" "INSERT INTO TA_CONFIGURACION VALUES ('DATOS', 'DEPURACIONPENDIENTE', '2022;A;10:01/01/2025;10:31/12/2025');
    UPDATE TA_CONFIGURACION SET VALOR = '01/01/2022' WHERE CLAVE = 'fechaoperdesde';
    UPDATE TA_CONFIGURACION SET VALOR = '31/12/2022' WHERE CLAVE = 'fechaoperhasta';
    DELETE FROM MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022;"
lanzar "$(linea "$BASE")"
caja "$AVISO" Return sin_terminar
caja "$AVISO" Return ""
esperar

# ---- Another station purging: an unattended purge held before its journal deletion -------------
BASE=$TRABAJO/ocupada.db
cp "$TRABAJO/modelo.db" "$BASE"
mkfifo "$TRABAJO/seguir"
# The other station's name, where the machine lets a process have one of its own.
estacion=()
unshare --uts true 2>/dev/null && estacion=(unshare --uts sh -c 'hostname PC-07 && exec "$@"' sh)
"${estacion[@]}" "$BIN/asistente_purga" --ejercicio 2022 --esperar asientos:1 "$(linea "$BASE" marta)" \
    <"$TRABAJO/seguir" >"$TRABAJO/asistente.txt" 2>&1 &
asistente=$!
exec 3>"$TRABAJO/seguir"
for _ in $(seq 300); do
    grep -q '^PARADO' "$TRABAJO/asistente.txt" && break
    sleep 0.1
done
grep -q '^PARADO' "$TRABAJO/asistente.txt" || fallo "la depuración de la otra estación no llegó al paso"
lanzar "$(linea "$BASE")"
# Said as the window opens, and again at Aceptar.
caja "$AVISO" Return ""
if VENTANA=$(ventana '^Cribanzas$'); then
    escribir_anio 2022
    xdotool key Tab Return
    caja "$AVISO" Return otra_estacion
    salir "$VENTANA"
fi
esperar
echo >&3
exec 3>&-
wait $asistente || fallo "la depuración de la otra estación falló: $(tail -3 "$TRABAJO/asistente.txt")"

# ---- The lookup dialog: articles with check boxes and quantities ---------------------------------
"$BIN/consulta" "$(linea "$TRABAJO/modelo.db")" V_MA_ARTICULOS --checks --cantidades \
    >"$TRABAJO/consulta.json" 2>>"$TRABAJO/salida.txt" &
pid=$!
if id=$(ventana 'Consulta\.\.\.'); then
    xdotool type --delay 60 "tal"
    xdotool key Down
    sleep 0.3
    xdotool key Insert Insert
    capturar consulta "$id"
    xdotool key Escape
fi
esperar

terminar
