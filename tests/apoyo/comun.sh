# Shared by the shell tests (sourced, not run): skipping, counting failures, the suite's
# command line.

# Ends the test as skipped (77), saying why.
omitir() {
    echo "$1: prueba omitida"
    exit 77
}

# Skips the test when one of the programs is missing.
requerir() {
    local p
    for p in "$@"; do
        command -v "$p" >/dev/null 2>&1 || omitir "falta $p"
    done
}

# Whether the machine has the operators' es_AR.UTF-8 locale.
hay_es_AR() {
    locale -a 2>/dev/null | grep -qi '^es_AR\.utf-\?8$'
}

# A failed check: said, counted, and the test goes on; terminar gives the verdict.
fallos=0
fallo() {
    echo "FALLO: $*"
    fallos=$((fallos + 1))
}
terminar() {
    [ $fallos -eq 0 ] && echo "ok"
    exit $((fallos > 0))
}

# The suite's command line for a SQLite database file (or an ODBC data source name).
linea_suite() {
    echo "@Server=;@DbName=$1;@Usuario=;@Password=;@UsuarioLogeado=ana;@Caja=1;"
}

# One query on the database at $BASE.
q() {
    sqlite3 "$BASE" "$1"
}
