#!/bin/bash
# One purge at a time, as operators meet it: the real window under Xvfb with openbox, driven by
# xdotool, against an unattended purge of the same year on the same database.
#  1. The window waits at its question (it holds the purge lock): the unattended purge is refused
#     (status 1) saying that another station has the purge open; then Yes in the window purges.
#  2. An unattended purge held half way (the test helper, after its journal step began): the
#     window's opening check says that another station is purging, naming it, and offers nothing;
#     its Aceptar is refused the same way; it writes nothing. The held purge then ends.
# Both databases must end as one uninterrupted purge leaves them. The boxes are told apart by
# what follows them (a notice is followed by nothing); the unattended side's texts are checked.
#
#   test_concurrencia_x11.sh CRIBANZAS GENERAR_DEMO ASISTENTE_PURGA
#
# Exits 77 (skipped) when Xvfb, openbox, xdotool or sqlite3 is missing. With
# CRIBANZAS_CAPTURAS=folder it leaves a screenshot of every box there.
set -u
. "$(dirname "$0")/../apoyo/x11.sh"

if [ "${1:-}" != "--dentro" ]; then
    requerir xvfb-run openbox xdotool sqlite3
    TRABAJO=$(mktemp -d)
    trap 'rm -rf "$TRABAJO"' EXIT
    "$2" --movimientos 600 --asientos 200 --filas-consulta 20 "$TRABAJO/modelo.db" >/dev/null || exit 1
    # The reference: one uninterrupted purge.
    cp "$TRABAJO/modelo.db" "$TRABAJO/referencia.db"
    "$1" --desatendido --ejercicio 2022 --confirmar "$(linea_suite "$TRABAJO/referencia.db")" 2>/dev/null ||
        { echo "la depuración de referencia falló"; exit 1; }
    unset QT_QPA_PLATFORM
    if hay_es_AR; then export LC_ALL=es_AR.UTF-8; else export LC_ALL=C.UTF-8; fi
    timeout 300 xvfb-run -a -s "-screen 0 1024x768x24" "$0" --dentro "$1" "$3" "$TRABAJO"
    exit $?
fi

CRIBANZAS=$2
ASISTENTE=$3
TRABAJO=$4
CAPTURAS=${CRIBANZAS_CAPTURAS:-}
REFERENCIA=$(sqlite3 "$TRABAJO/referencia.db" .dump)
x11_gestor

# Answers the "Aviso al operador" box by a key once it shows, after a screenshot; waits until
# it is gone.
caja() {
    local id
    id=$(ventana '^Aviso al operador$') || { fallo "no se mostró la caja ($2)"; return 1; }
    [ -n "$CAPTURAS" ] && mkdir -p "$CAPTURAS" && import -window root "$CAPTURAS/$2.png"
    xdotool key "$1"
    for _ in $(seq 50); do
        xdotool search --onlyvisible --name '^Aviso al operador$' 2>/dev/null | grep -qx "$id" || return 0
        sleep 0.1
    done
    fallo "la caja no se cerró ($2)"
}
# No box follows within a second.
ninguna_caja() {
    sleep 1
    xdotool search --onlyvisible --name '^Aviso al operador$' >/dev/null 2>&1 && fallo "se mostró otra caja ($1)"
}
# The window, in the background for a minute at most; its status is read by `wait $VENTANA`.
abrir_ventana() {
    timeout -k 5 60 "$CRIBANZAS" "$(linea_suite "$1")" >"$TRABAJO/ventana.txt" 2>&1 &
    VENTANA=$!
}
pedir_2022() {
    ventana '^Cribanzas$' >/dev/null || return 1
    # Aceptar has the focus; the year box is two tabs away, and Aceptar one more.
    xdotool key Tab Tab
    xdotool type --delay 60 "2022"
    xdotool key Tab Return
}
igual_a_una_depuracion() {
    [ "$(sqlite3 "$1" .dump)" == "$REFERENCIA" ] || fallo "$2: la base no quedó como tras una sola depuración"
}

# ---- 1. The window at its question, an unattended purge meanwhile -----------------------------
BASE=$TRABAJO/ventana.db
cp "$TRABAJO/modelo.db" "$BASE"
abrir_ventana "$BASE"
pedir_2022
# The question is on screen.
ventana '^Aviso al operador$' >/dev/null || fallo "no se preguntó"
"$CRIBANZAS" --desatendido --ejercicio 2022 --confirmar "$(linea_suite "$BASE")" \
    >/dev/null 2>"$TRABAJO/otra.txt"
e=$?
[ $e == 1 ] || fallo "la depuración desatendida terminó con estado $e, no 1: $(cat "$TRABAJO/otra.txt")"
grep -q "Otra estación tiene abierta la depuración de ejercicios y todavía no la confirmó." "$TRABAJO/otra.txt" ||
    fallo "la desatendida no dijo que otra estación tiene abierta la depuración: $(cat "$TRABAJO/otra.txt")"
# Yes is the question's default; then the end of the purge.
caja Return pregunta
caja Return exito
wait $VENTANA
e=$?
[ $e == 0 ] || fallo "la ventana terminó con estado $e"
igual_a_una_depuracion "$BASE" "ventana y desatendida"

# ---- 2. An unattended purge held half way, the window opened meanwhile -------------------------
BASE=$TRABAJO/retenida.db
cp "$TRABAJO/modelo.db" "$BASE"
mkfifo "$TRABAJO/seguir"
"$ASISTENTE" --ejercicio 2022 --esperar asientos:1 "$(linea_suite "$BASE")" \
    <"$TRABAJO/seguir" >"$TRABAJO/asistente.txt" 2>&1 &
asistente=$!
exec 3>"$TRABAJO/seguir"
for _ in $(seq 300); do
    grep -q '^PARADO' "$TRABAJO/asistente.txt" && break
    sleep 0.1
done
grep -q '^PARADO' "$TRABAJO/asistente.txt" || fallo "la depuración retenida no llegó al paso"
huella=$(sqlite3 "$BASE" .dump | md5sum)

abrir_ventana "$BASE"
# A notice, not the offer to finish: Return on an offer would answer Yes, and the refused purge
# would show another box.
caja Return aviso_al_abrir
ninguna_caja "tras el aviso al abrirse"
pedir_2022
caja Return rechazo
ninguna_caja "tras el rechazo"
ventana '^Cribanzas$' >/dev/null && xdotool key alt+F4
wait $VENTANA
e=$?
[ $e == 0 ] || fallo "la ventana terminó con estado $e"
[ "$(sqlite3 "$BASE" .dump | md5sum)" == "$huella" ] || fallo "la ventana escribió en la base"

echo >&3
exec 3>&-
wait $asistente
e=$?
[ $e == 0 ] || fallo "la depuración retenida terminó con estado $e: $(tail -3 "$TRABAJO/asistente.txt")"
igual_a_una_depuracion "$BASE" "ventana y depuración retenida"

terminar
