#!/bin/bash
# The lookup as a caller sees it: the example program "consulta" under a real X server
# (Xvfb) with a window manager (openbox), driven with real key presses (xdotool), its JSON
# answer checked.
#
#   test_dialogo_x11.sh CONSULTA GENERAR_DEMO
#
# Exits 77 (skipped) when xvfb-run, openbox, xdotool or xprop is missing.
set -u
. "$(dirname "$0")/../apoyo/x11.sh"

if [ "${1:-}" != "--dentro" ]; then
    CONSULTA=$1
    GENERAR=$2
    x11_requerir xvfb-run openbox xdotool xprop
    TRABAJO=$(mktemp -d)
    trap 'rm -rf "$TRABAJO"' EXIT
    "$GENERAR" --filas-consulta 20 "$TRABAJO/demo.db" >/dev/null || exit 1
    unset QT_QPA_PLATFORM
    export LC_ALL=C.UTF-8
    timeout 180 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --dentro "$CONSULTA" "$TRABAJO"
    exit $?
fi

CONSULTA=$2
TRABAJO=$3
LINEA="@Server=;@DbName=$TRABAJO/demo.db;@Usuario=;@Password=;@UsuarioLogeado=ana;@Caja=1;"
SENTENCIA="SELECT 'Beta' AS NOMBRE, 'B01' AS CODIGO UNION ALL SELECT 'Bermejo', 'B02'
 UNION ALL SELECT 'Alfa', 'A01' UNION ALL SELECT 'Gamma', 'G01'"
fallos=0

x11_gestor

# Runs consulta with the options, plays the keys (a function name), compares its output.
caso() {
    local nombre=$1 teclas=$2 esperado=$3
    shift 3
    "$CONSULTA" "$LINEA" "${SQL:-$SENTENCIA}" "$@" >"$TRABAJO/salida.json" 2>"$TRABAJO/errores.txt" &
    local pid=$!
    if ventana "Consulta\.\.\." >/dev/null; then
        $teclas
    fi
    local espera=0
    while kill -0 "$pid" 2>/dev/null && [ $espera -lt 100 ]; do
        sleep 0.1
        espera=$((espera + 1))
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid"
        echo "FALLO $nombre: el diálogo no se cerró"
        fallos=$((fallos + 1))
        return
    fi
    wait "$pid"
    local obtenido
    obtenido=$(cat "$TRABAJO/salida.json")
    if [ "$obtenido" == "$esperado" ]; then
        echo "ok $nombre"
    else
        echo "FALLO $nombre"
        echo "  esperado: $esperado"
        echo "  obtenido: $obtenido"
        sed 's/^/  /' "$TRABAJO/errores.txt"
        fallos=$((fallos + 1))
    fi
}

# Typing selects Bermejo, then Beta; Enter accepts.
teclas_aceptar() {
    xdotool type --delay 60 "be"
    xdotool type --delay 60 "t"
    xdotool key Return
}
caso aceptar teclas_aceptar \
    '{"valores": ["B01"], "cantidades": [], "valorDevuelto": "Beta", "campoBusqueda": ""}' \
    --devueltos CODIGO --devuelto NOMBRE

teclas_cancelar() {
    xdotool type --delay 60 "g"
    xdotool key Escape
}
caso cancelar teclas_cancelar \
    '{"valores": null, "cantidades": [], "valorDevuelto": "", "campoBusqueda": ""}' --devuelto NOMBRE

# Check boxes and quantities: Gamma stepped up twice in the list, Beta given 3 through the
# input box, Enter in the list accepts once.
teclas_cantidades() {
    xdotool type --delay 60 "g"
    xdotool key Down
    sleep 0.2
    xdotool key Insert Insert Up
    sleep 0.2
    xdotool key shift+Insert
    if ventana "Carga de Datos" >/dev/null; then
        xdotool key ctrl+a
        xdotool type --delay 60 "3"
        xdotool key Return
        sleep 0.3
    fi
    ventana "Consulta\.\.\." >/dev/null
    xdotool key Return
}
caso cantidades teclas_cantidades \
    '{"valores": ["Beta","Gamma"], "cantidades": ["3.00","2.0"], "valorDevuelto": null, "campoBusqueda": ""}' \
    --checks --cantidades

# The first row is selected on opening: Enter at once returns it.
teclas_intro() {
    xdotool key Return
}
caso intro_al_abrir teclas_intro \
    '{"valores": ["A01"], "cantidades": [], "valorDevuelto": "Alfa", "campoBusqueda": ""}' \
    --devueltos CODIGO --devuelto NOMBRE

# Space in the list ticks the current row (and unticks it); letters still go to the search box.
teclas_espacio() {
    xdotool key Down Down space Down Down space
    sleep 0.2
    xdotool key Up space space
    sleep 0.2
    xdotool key Return
}
caso espacio teclas_espacio \
    '{"valores": ["Bermejo","Gamma"], "cantidades": [], "valorDevuelto": null, "campoBusqueda": ""}' --checks

# Enter on a focused "Cancelar" cancels: the ticked row is not returned.
teclas_tab_cancelar() {
    xdotool key Down space Tab Tab
    sleep 0.2
    xdotool key Return
}
caso tab_cancelar teclas_tab_cancelar \
    '{"valores": null, "cantidades": [], "valorDevuelto": "", "campoBusqueda": ""}' --checks

# Spanish order: "alv" finds "Álvarez" before "Alvear".
teclas_alv() {
    xdotool type --delay 60 "alv"
    xdotool key Return
}
SQL="SELECT 'Alvear SA' AS NOMBRE UNION ALL SELECT 'Zulema' UNION ALL SELECT 'Álvarez Hnos'
 UNION ALL SELECT 'Pozo'" caso orden_espanol teclas_alv \
    '{"valores": [], "cantidades": [], "valorDevuelto": "Álvarez Hnos", "campoBusqueda": ""}' --devuelto NOMBRE

exit $((fallos > 0))
