#!/bin/bash
# The dates the purge writes do not depend on the locale: the same unattended purge under every
# row of the table below (a cron job's C, English, German, Brazilian and Egyptian desktops,
# LC_TIME and LC_ALL against LANG) must send the same statements with the same values and leave
# the same database. The reference run's dates are dd/MM/yyyy, and the operating period saved
# before the purge goes back byte for byte.
#
#   test_fechas_locales.sh CRIBANZAS GENERAR_DEMO
#
# Exits 77 (skipped) without sqlite3 or without the locales (scripts/dependencias.sh makes them).
set -u
. "$(dirname "$0")/../apoyo/comun.sh"
CRIBANZAS=$1
GENERAR=$2

requerir sqlite3
# LANG, LC_TIME, LC_ALL; "-" leaves the variable unset. The first row is the reference.
casos=(
    "C - -"
    "en_US.UTF-8 C -"
    "de_DE.UTF-8 C -"
    "pt_BR.UTF-8 C -"
    "en_US.UTF-8 - -"
    "ar_EG.UTF-8 - -"
    "es_AR.UTF-8 de_DE.UTF-8 -"
    "C ar_EG.UTF-8 -"
    "es_AR.UTF-8 - en_US.UTF-8"
    "de_DE.UTF-8 pt_BR.UTF-8 C.UTF-8"
)
for l in es_AR en_US de_DE pt_BR ar_EG; do
    locale -a 2>/dev/null | grep -qi "^$l\.utf-\?8$" || omitir "falta el locale $l.UTF-8"
done

TRABAJO=$(mktemp -d)
trap 'rm -rf "$TRABAJO"' EXIT
MODELO=$TRABAJO/modelo.db
"$GENERAR" --movimientos 300 --asientos 60 --filas-consulta 5 "$MODELO" >/dev/null || exit 1
# A saved period that no date conversion may touch: unpadded, and a text beyond ASCII.
DESDE='1/1/2025'
HASTA='31/12/2025 (año)'
sqlite3 "$MODELO" "UPDATE TA_CONFIGURACION SET VALOR = '$DESDE' WHERE CLAVE = 'fechaoperdesde';
    UPDATE TA_CONFIGURACION SET VALOR = '$HASTA' WHERE CLAVE = 'fechaoperhasta'" || exit 1

# Whatever locale the test itself runs under stays out of the program's environment.
sin_locale=()
for v in $(compgen -e); do
    case $v in LANG | LANGUAGE | LC_*) sin_locale+=(-u "$v") ;; esac
done

referencia=
for caso in "${casos[@]}"; do
    read -r lang tiempo todo <<<"$caso"
    entorno=()
    [ "$lang" != - ] && entorno+=("LANG=$lang")
    [ "$tiempo" != - ] && entorno+=("LC_TIME=$tiempo")
    [ "$todo" != - ] && entorno+=("LC_ALL=$todo")
    nombre=${caso// /_}
    BASE=$TRABAJO/$nombre.db
    cp "$MODELO" "$BASE"
    env "${sin_locale[@]}" -u QT_QPA_PLATFORM "${entorno[@]}" \
        "$CRIBANZAS" --desatendido --ejercicio 2022 --confirmar \
        --registro-sentencias "$TRABAJO/$nombre.log" "$(linea_suite "$BASE")" >"$TRABAJO/salida.txt" 2>&1
    estado=$?
    [ $estado == 0 ] || { fallo "$caso: estado $estado" "$(tail -3 "$TRABAJO/salida.txt")"; continue; }
    # The statements with their values and outcomes, without the time they were sent. The
    # progress record's owner (the run's token and its start time) differs from run to run: it
    # is set aside only when its time has the one form, dd/MM/yyyy HH:mm:ss in ASCII digits.
    cut -f2- "$TRABAJO/$nombre.log" |
        sed -E 's#;[0-9a-f]{16};[0-9]{2}/[0-9]{2}/[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2};#;<dueño>;#g' \
            >"$TRABAJO/$nombre.sentencias"
    sqlite3 "$BASE" .dump >"$TRABAJO/$nombre.sql"
    if [ -z "$referencia" ]; then
        referencia=$nombre
        continue
    fi
    cmp -s "$TRABAJO/$referencia.sentencias" "$TRABAJO/$nombre.sentencias" || {
        fallo "$caso: otras sentencias que con $referencia"
        diff "$TRABAJO/$referencia.sentencias" "$TRABAJO/$nombre.sentencias" | head -4
    }
    cmp -s "$TRABAJO/$referencia.sql" "$TRABAJO/$nombre.sql" || {
        fallo "$caso: otra base que con $referencia"
        diff "$TRABAJO/$referencia.sql" "$TRABAJO/$nombre.sql" | head -4
    }
done

# The reference itself: the year's dates as the suite writes them, the saved period as it was.
[ -n "$referencia" ] || terminar
BASE=$TRABAJO/$referencia.db
# (Bash compares the bytes.)
[ "$(q "SELECT VALOR FROM TA_CONFIGURACION WHERE CLAVE = 'FECHAULTIMADEPURACION'")" == 01/01/2022 ] ||
    fallo "FECHAULTIMADEPURACION"
[ "$(q "SELECT VALOR FROM TA_CONFIGURACION WHERE CLAVE = 'fechaoperdesde'")" == "$DESDE" ] ||
    fallo "fechaoperdesde no volvió byte a byte"
[ "$(q "SELECT VALOR FROM TA_CONFIGURACION WHERE CLAVE = 'fechaoperhasta'")" == "$HASTA" ] ||
    fallo "fechaoperhasta no volvió byte a byte"
for valor in 01/01/2022 31/12/2022; do
    grep -q "^UPDATE TA_CONFIGURACION SET \"VALOR\" = N'$valor'" "$TRABAJO/$referencia.sentencias" ||
        fallo "el período operativo no se fijó en $valor"
done

terminar
