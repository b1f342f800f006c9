#!/bin/bash
# The purge window as an operator runs it: the real cribanzas under a real X server (Xvfb) with
# a window manager (openbox), driven with real key presses (xdotool), keys typed ahead of the
# question included. Then its exit status and the database are checked. In the final message,
# "Abrir carpeta" must hand the archive's folder to the desktop's handler (a stand-in for
# xdg-open that records what it gets) and leave the message up, and "Compactar ahora" must
# shrink the file and show its result (the sizes before and after are printed, and in the
# screenshots).
#
#   test_ventana_x11.sh CRIBANZAS GENERAR_DEMO
#
# Exits 77 (skipped) when Xvfb, openbox, xdotool, x11-utils or sqlite3 is missing. With
# CRIBANZAS_CAPTURAS=folder it leaves a screenshot of every box there.
set -u
. "$(dirname "$0")/../apoyo/x11.sh"

if [ "${1:-}" != "--dentro" ]; then
    CRIBANZAS=$1
    GENERAR=$2
    x11_requerir sqlite3
    TRABAJO=$(mktemp -d)
    trap 'rm -rf "$TRABAJO"' EXIT
    "$GENERAR" --movimientos 600 --asientos 200 --filas-consulta 20 "$TRABAJO/modelo.db" >/dev/null || exit 1
    unset QT_QPA_PLATFORM
    # The operator's Spanish locale when the machine has it (its dates are the ones checked).
    if hay_es_AR; then
        export LC_ALL=es_AR.UTF-8
    else
        echo "sin es_AR.UTF-8: la ventana corre en C.UTF-8"
        export LC_ALL=C.UTF-8
    fi
    timeout 300 xvfb-run -a -s "-screen 0 1024x768x24" "$0" --dentro "$CRIBANZAS" "$TRABAJO"
    exit $?
fi

CRIBANZAS=$2
TRABAJO=$3
CAPTURAS=${CRIBANZAS_CAPTURAS:-}

x11_gestor

# The archives and listings go to this run's own data folder, and the desktop's handler is a
# stand-in that records what it is asked to open.
export XDG_DATA_HOME=$TRABAJO/datos
ARCHIVOS=$XDG_DATA_HOME/cribanzas/archivos
mkdir -p "$TRABAJO/bin"
cat >"$TRABAJO/bin/xdg-open" <<FIN
#!/bin/sh
printf '%s\n' "\$*" >>"$TRABAJO/abiertos.txt"
FIN
chmod +x "$TRABAJO/bin/xdg-open"
export PATH=$TRABAJO/bin:$PATH

capturar() {
    [ -n "$CAPTURAS" ] && mkdir -p "$CAPTURAS" && import -window root "$CAPTURAS/$1.png"
}

# Answers the box that shows with that title by a key, after a screenshot; waits until it goes.
responder() {
    local titulo=$1 tecla=$2 captura=$3 id
    if ! id=$(ventana "^$titulo\$"); then
        capturar "falta_$captura"
        fallo "no se mostró la caja \"$titulo\" ($captura)"
        return 1
    fi
    capturar "$captura"
    centrada "$id" "la caja $captura"
    xdotool key "$tecla"
    # That box, not the next one with the same title.
    for _ in $(seq 50); do
        xdotool search --onlyvisible --name "^$titulo\$" 2>/dev/null | grep -qx "$id" || return 0
        sleep 0.1
    done
    fallo "la caja \"$titulo\" no se cerró ($captura)"
}

# The program, in the background, ended after a minute at most (status 124: it hung).
lanzar() {
    timeout -k 5 60 "$CRIBANZAS" "$@" >"$TRABAJO/salida.txt" 2>&1 &
    pid=$!
}
# Waits for it to end; its exit status goes to e.
esperar() {
    wait "$pid"
    e=$?
}

# Balances per group at a date after the cut-off, as the purge counts them.
saldos() {
    q "SELECT IDARTICULO, IDUNIDAD, IdDeposito, IdPosicion, NroSerie, NroLote, DESCRIPCION,
              printf('%.4f', SUM(CANTIDAD)), printf('%.4f', SUM(COALESCE(CantidadUD, 0)))
       FROM V_MV_STOCK WHERE FECHA <= '2023-12-31 23:59:59' AND COALESCE(Anulado, 0) = 0
       GROUP BY 1, 2, 3, 4, 5, 6, 7 ORDER BY 1, 2, 3, 4, 5, 6, 7"
}

# ---- A whole purge: two refused years, then the closed one -----------------------------------
BASE=$TRABAJO/purga.db
cp "$TRABAJO/modelo.db" "$BASE"
antes=$(saldos)
grupos=$(q "SELECT COUNT(*) FROM (SELECT 1 FROM V_MV_STOCK WHERE FECHA <= '2022-12-31'
             AND COALESCE(Anulado, 0) = 0 GROUP BY IDARTICULO, IDUNIDAD, IdDeposito, IdPosicion,
             NroSerie, NroLote, DESCRIPCION)")
lanzar "$(linea_suite "$BASE")"
if id=$(ventana '^Cribanzas$'); then
    capturar ventana
    # Fixed in size: the window manager offers no maximizing (openbox still draws the button).
    xprop -id "$id" _NET_WM_ALLOWED_ACTIONS | grep -q MAXIMIZE && fallo "la ventana se puede maximizar"
    # Aceptar has the focus; the year box is two tabs away.
    xdotool key Tab Tab
    # "2" is no year: nothing may complete it into a listed one.
    xdotool type --delay 60 "2"
    xdotool key Return
    responder "Aviso al operador" Return rechazo_2
    xdotool key ctrl+a
    xdotool type --delay 60 "2024"
    xdotool key Return
    responder "Aviso al operador" Return rechazo_2024
    xdotool key ctrl+a
    xdotool type --delay 60 "2022"
    # A double Enter on the focused Aceptar: the second, typed ahead of the question, must not
    # answer it.
    xdotool key Tab Return Return
    sleep 1
    capturar pregunta_tras_teclas_anticipadas
    [ "$(q "SELECT COUNT(*) FROM MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022")" != 0 ] ||
        fallo "una tecla anticipada respondió Sí a la pregunta"
    responder "Aviso al operador" Return pregunta
    # The final message. Its buttons, in focus order from the default: Aceptar, "Compactar
    # ahora", "Abrir carpeta"; opening the folder leaves the message up.
    if id=$(ventana '^Aviso al operador$'); then
        capturar exito
        xdotool key Tab Tab space
        for _ in $(seq 50); do
            [ -s "$TRABAJO/abiertos.txt" ] && break
            sleep 0.1
        done
        [ "$(cat "$TRABAJO/abiertos.txt" 2>/dev/null)" == "file://$ARCHIVOS" ] ||
            fallo "Abrir carpeta no abrió la carpeta del archivo: $(cat "$TRABAJO/abiertos.txt" 2>/dev/null)"
        xdotool search --onlyvisible --name '^Aviso al operador$' | grep -qx "$id" ||
            fallo "Abrir carpeta cerró el mensaje"
        antes_compactar=$(stat -c %s "$BASE")
        xdotool windowfocus --sync "$id" key shift+Tab space
        if id=$(ventana '^Aviso al operador$'); then
            capturar compactado
            despues_compactar=$(stat -c %s "$BASE")
            echo "compactación: $antes_compactar -> $despues_compactar bytes"
            [ "$despues_compactar" -lt "$antes_compactar" ] ||
                fallo "Compactar ahora no achicó la base: $antes_compactar -> $despues_compactar bytes"
            xdotool key Return
        else
            fallo "Compactar ahora no mostró su resultado"
        fi
    else
        fallo "no se mostró el mensaje final"
    fi
else
    fallo "no se mostró la ventana"
fi
esperar
[ "$e" == 0 ] || fallo "la depuración terminó con estado $e: $(cat "$TRABAJO/salida.txt")"
[ "$(saldos)" == "$antes" ] || fallo "los saldos por grupo cambiaron"
[ "$(q "SELECT COUNT(*) FROM MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022")" == 0 ] ||
    fallo "quedan asientos de 2022"
[ "$(q "SELECT COUNT(*) FROM V_MV_STOCK WHERE TC = 'SI' AND IDCOMPROBANTE = '000100000002X'
        AND FECHA = '2022-12-31' AND ControladoPor = 'Depuracion'")" == "$grupos" ] ||
    fallo "el comprobante SI no tiene un renglón por grupo ($grupos)"
[ "$(q "SELECT COUNT(*) FROM V_MV_STOCK WHERE FECHA <= '2022-12-31' AND TC <> 'SI'")" == 0 ] ||
    fallo "quedan movimientos hasta el corte"
[ "$(q "SELECT VALOR FROM TA_CONFIGURACION WHERE CLAVE = 'FECHAULTIMADEPURACION'")" == "01/01/2022" ] ||
    fallo "FECHAULTIMADEPURACION: $(q "SELECT VALOR FROM TA_CONFIGURACION WHERE CLAVE = 'FECHAULTIMADEPURACION'")"
[ "$(q "SELECT group_concat(VALOR, ' ') FROM (SELECT VALOR FROM TA_CONFIGURACION
        WHERE CLAVE IN ('fechaoperdesde', 'fechaoperhasta') ORDER BY CLAVE)")" == "01/01/2025 31/12/2025" ] ||
    fallo "el período operativo no se repuso"
[ "$(q 'PRAGMA integrity_check')" == ok ] || fallo "la base compactada no está íntegra"
[ "$(ls "$ARCHIVOS" | grep -c '^depuracion-purga-2022-.*\(\.sqlite\|-libro-diario\.pdf\|-existencias\.pdf\)$')" == 3 ] ||
    fallo "la carpeta del archivo no tiene el archivo y los dos listados: $(ls "$ARCHIVOS")"

# ---- A purge killed after its journal deletion: the window offers to finish it ---------------
BASE=$TRABAJO/pendiente.db
cp "$TRABAJO/modelo.db" "$BASE"
q "INSERT INTO TA_CONFIGURACION VALUES ('DATOS', 'DEPURACIONPENDIENTE', '2022;A;10:01/01/2025;10:31/12/2025');
   UPDATE TA_CONFIGURACION SET VALOR = '01/01/2022' WHERE CLAVE = 'fechaoperdesde';
   UPDATE TA_CONFIGURACION SET VALOR = '31/12/2022' WHERE CLAVE = 'fechaoperhasta';
   DELETE FROM MV_ASIENTOS WHERE CAST(PERIODO AS INTEGER) = 2022;"
lanzar "$(linea_suite "$BASE")"
# Yes is the offer's default button.
responder "Aviso al operador" Return pendiente
responder "Aviso al operador" Return exito_pendiente
esperar
[ "$e" == 0 ] || fallo "terminar la depuración pendiente terminó con estado $e: $(cat "$TRABAJO/salida.txt")"
[ "$(saldos)" == "$antes" ] || fallo "los saldos por grupo cambiaron al terminar la depuración pendiente"
[ "$(q "SELECT COUNT(*) FROM V_MV_STOCK WHERE TC = 'SI' AND IDCOMPROBANTE = '000100000002X'")" == "$grupos" ] ||
    fallo "la depuración pendiente no generó el saldo inicial"
[ "$(q "SELECT COUNT(*) FROM TA_CONFIGURACION WHERE CLAVE = 'DEPURACIONPENDIENTE'")" == 0 ] ||
    fallo "quedó la marca de depuración pendiente"
[ "$(q "SELECT group_concat(VALOR, ' ') FROM (SELECT VALOR FROM TA_CONFIGURACION
        WHERE CLAVE IN ('fechaoperdesde', 'fechaoperhasta') ORDER BY CLAVE)")" == "01/01/2025 31/12/2025" ] ||
    fallo "la depuración pendiente no repuso el período operativo"

# ---- The other ways out: Enter on Cancelar, the close box, a refused connection -------------
BASE=$TRABAJO/salidas.db
cp "$TRABAJO/modelo.db" "$BASE"
huella=$(sqlite3 "$BASE" .dump | md5sum)

lanzar "$(linea_suite "$BASE")"
ventana '^Cribanzas$' >/dev/null && xdotool key Tab Return
esperar
[ "$e" == 0 ] || fallo "Cancelar terminó con estado $e"

lanzar "$(linea_suite "$BASE")"
# Alt+F4 is the window manager's: it closes the window the manager holds active, so the window
# is activated through it (a bare input focus leaves a freshly mapped window unknown to it).
id=$(ventana '^Cribanzas$') && xdotool windowactivate --sync "$id" && xdotool key alt+F4
esperar
[ "$e" == 0 ] || fallo "el cierre de la ventana terminó con estado $e"
[ "$(sqlite3 "$BASE" .dump | md5sum)" == "$huella" ] || fallo "salir cambió la base"

lanzar "$(linea_suite "$TRABAJO/no_existe.db")"
responder Cribanzas Return sin_conexion
esperar
[ "$e" == 4 ] || fallo "sin conexión terminó con estado $e"

terminar
