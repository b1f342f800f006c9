#!/bin/bash
# The program started from the menu, with no session line: the real cribanzas under Xvfb and
# openbox, driven with key presses. The connection dialog takes a data source with a login,
# then a file that is not the suite's (the reason shows in the dialog, which stays), then the
# demo database, which is purged; the next start preselects that file. The password is never
# written to disk.
#
#   test_conexion_x11.sh CRIBANZAS GENERAR_DEMO
#
# Exits 77 (skipped) when Xvfb, openbox, xdotool, x11-utils, sqlite3 or the SQLite3 ODBC driver
# is missing. With CRIBANZAS_CAPTURAS=folder it leaves a screenshot of every step there.
set -u
. "$(dirname "$0")/../apoyo/x11.sh"

if [ "${1:-}" != "--dentro" ]; then
    CRIBANZAS=$1
    GENERAR=$2
    x11_requerir sqlite3 odbcinst
    odbcinst -q -d 2>/dev/null | grep -q '^\[SQLite3\]' || omitir "falta el controlador ODBC SQLite3"
    TRABAJO=$(mktemp -d)
    trap 'rm -rf "$TRABAJO"' EXIT
    "$GENERAR" --movimientos 600 --asientos 200 --filas-consulta 20 "$TRABAJO/purga.db" >/dev/null || exit 1
    cp "$TRABAJO/purga.db" "$TRABAJO/odbc.db"
    : >"$TRABAJO/vacia.db"
    # The user's folders and the data sources, all in the scratch folder: only DEMO is listed.
    mkdir -p "$TRABAJO/casa" "$TRABAJO/odbc"
    cp /etc/odbcinst.ini "$TRABAJO/odbc/"
    : >"$TRABAJO/odbc/odbc.ini"
    printf '[DEMO]\nDriver=SQLite3\nDatabase=%s\nTimeout=3000\n' "$TRABAJO/odbc.db" >"$TRABAJO/odbc/usuario.ini"
    export HOME=$TRABAJO/casa XDG_CONFIG_HOME=$TRABAJO/casa/.config XDG_CACHE_HOME=$TRABAJO/casa/.cache
    export XDG_DATA_HOME=$TRABAJO/casa/.local/share XDG_STATE_HOME=$TRABAJO/casa/.local/state
    export ODBCSYSINI=$TRABAJO/odbc ODBCINI=$TRABAJO/odbc/usuario.ini CRIBANZAS_CARPETA_SISTEMA=$TRABAJO/etc
    unset QT_QPA_PLATFORM
    if hay_es_AR; then export LC_ALL=es_AR.UTF-8; else export LC_ALL=C.UTF-8; fi
    timeout 300 xvfb-run -a -s "-screen 0 1024x768x24" "$0" --dentro "$CRIBANZAS" "$TRABAJO"
    exit $?
fi

CRIBANZAS=$2
TRABAJO=$3
CAPTURAS=${CRIBANZAS_CAPTURAS:-}
# "Conexión" without its accent: xdotool's regular expressions follow the locale's bytes.
DIALOGO='^Conexi.* con la base de datos$'
CLAVE=Secreto-X11-9q
BASE=$TRABAJO/purga.db
INI=$XDG_CONFIG_HOME/cribanzas/conexion.ini

x11_gestor

capturar() {
    if [ -n "$CAPTURAS" ]; then mkdir -p "$CAPTURAS" && import -window root "$CAPTURAS/$1.png"; fi
    return 0
}
# Started from the menu: no argument at all.
lanzar() {
    timeout -k 5 60 "$CRIBANZAS" >"$TRABAJO/salida.txt" 2>&1 &
    pid=$!
}
esperar() {
    wait "$pid"
    e=$?
}
# The window with that title, or a failure with a screenshot.
mostrada() {
    ventana "$1" >/dev/null && return 0
    capturar "falta_$2"
    fallo "no se mostró \"$1\" ($2)"
    return 1
}
# Chooses a file in the dialog's file chooser (the source list has the focus).
elegir_archivo() {
    xdotool key End
    mostrada '^Archivo SQLite$' "selector_$2" || return 1
    xdotool type --delay 20 "$1"
    capturar "selector_$2"
    xdotool key Return
    mostrada "$DIALOGO" "$2"
}

# ---- A data source with a login: connects; the choice is kept, the password is not -----------
lanzar
if mostrada "$DIALOGO" primera; then
    capturar dialogo_primera
    centrada "$(xdotool search --onlyvisible --name "$DIALOGO" | head -1)" "el diálogo"
    # The first source is preselected; user and password follow in tab order.
    xdotool key Tab
    xdotool type --delay 20 "ana"
    xdotool key Tab
    xdotool type --delay 20 "$CLAVE"
    xdotool key Return
    if mostrada '^Cribanzas$' odbc; then
        capturar ventana_odbc
        xdotool key Tab Return # Cancelar
    fi
fi
esperar
[ "$e" == 0 ] || fallo "la primera corrida terminó con estado $e: $(cat "$TRABAJO/salida.txt")"
grep -qx 'origen=DEMO' "$INI" 2>/dev/null || fallo "no se recordó el origen de datos: $(cat "$INI" 2>&1)"
grep -qx 'usuario=ana' "$INI" 2>/dev/null || fallo "no se recordó el usuario"
if grep -rlF "$CLAVE" "$TRABAJO" 2>/dev/null; then fallo "la contraseña quedó escrita en un archivo"; fi

# ---- A file that is not the suite's, then the demo database, purged ----------------------------
lanzar
if mostrada "$DIALOGO" segunda; then
    capturar dialogo_preseleccion_odbc
    # The password has the focus, under the remembered user; back to the source list.
    xdotool key shift+Tab shift+Tab
    if elegir_archivo "$TRABAJO/vacia.db" vacia; then
        xdotool key Return
        sleep 1
        capturar dialogo_base_ajena
        # The reason is in the dialog, which stays for another try.
        mostrada "$DIALOGO" reintento && kill -0 "$pid" 2>/dev/null || fallo "el diálogo no quedó para reintentar"
        if elegir_archivo "$BASE" demo; then
            xdotool key Return
            if mostrada '^Cribanzas$' archivo; then
                xdotool key Tab Tab
                xdotool type --delay 60 "2022"
                xdotool key Tab Return
                mostrada '^Aviso al operador$' pregunta && capturar pregunta && xdotool key Return
                sleep 0.5
                mostrada '^Aviso al operador$' exito && capturar exito && xdotool key Return
            fi
        fi
    fi
fi
esperar
[ "$e" == 0 ] || fallo "la depuración terminó con estado $e: $(cat "$TRABAJO/salida.txt")"
[ -s "$TRABAJO/vacia.db" ] && fallo "el archivo vacío se escribió"
[ "$(q "SELECT COUNT(*) FROM MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022")" == 0 ] ||
    fallo "quedan asientos de 2022"
[ "$(q "SELECT VALOR FROM TA_CONFIGURACION WHERE CLAVE = 'FECHAULTIMADEPURACION'")" == "01/01/2022" ] ||
    fallo "FECHAULTIMADEPURACION: $(q "SELECT VALOR FROM TA_CONFIGURACION WHERE CLAVE = 'FECHAULTIMADEPURACION'")"
[ "$(q "SELECT COUNT(*) FROM V_MV_STOCK WHERE TC = 'SI' AND FECHA = '2022-12-31'")" -gt 0 ] ||
    fallo "no se generó el saldo inicial"
[ "$(q "SELECT COUNT(*) FROM V_MV_STOCK WHERE FECHA <= '2022-12-31' AND TC <> 'SI'")" == 0 ] ||
    fallo "quedan movimientos hasta el corte"
grep -qx 'tipo=archivo' "$INI" || fallo "no se recordó el archivo: $(cat "$INI")"

# ---- The next start preselects the file: Enter alone opens it ----------------------------------
huella=$(sqlite3 "$BASE" .dump | md5sum)
lanzar
if mostrada "$DIALOGO" tercera; then
    capturar dialogo_preseleccion_archivo
    xdotool key Return
    mostrada '^Cribanzas$' preseleccion && xdotool key Tab Return
fi
esperar
[ "$e" == 0 ] || fallo "abrir el archivo recordado terminó con estado $e: $(cat "$TRABAJO/salida.txt")"

# ---- Escape cancels: status 4, nothing touched --------------------------------------------------
lanzar
mostrada "$DIALOGO" cuarta && xdotool key Escape
esperar
[ "$e" == 4 ] || fallo "cancelar el diálogo terminó con estado $e"
[ "$(sqlite3 "$BASE" .dump | md5sum)" == "$huella" ] || fallo "abrir y salir cambió la base"
if grep -rlF "$CLAVE" "$TRABAJO" 2>/dev/null; then fallo "la contraseña quedó escrita en un archivo"; fi

terminar
