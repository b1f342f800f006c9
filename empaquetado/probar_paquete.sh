#!/usr/bin/env bash
# The packaging check: builds the Debian packages from a build tree, lists them and has lintian
# check them (no error, no warning); runs the unpacked program from a read-only folder, as a
# user other than root (root writes through read-only folders), for an unattended dry run on a
# demo database; builds a caller of the lookup component against the unpacked -dev package.
#
#   probar_paquete.sh ARBOL CPACK CONSUMIDOR GENERAR_DEMO GENERADOR QT6_DIR
set -euo pipefail
arbol=$1 cpack=$2 consumidor=$3 generar_demo=$4 generador=$5 qt_dir=$6
inicio=$SECONDS
trabajo=$(mktemp -d "${TMPDIR:-/tmp}/cribanzas-paquete.XXXXXX")
trap 'chmod -R u+w "$trabajo" 2>/dev/null; rm -rf "$trabajo"' EXIT
# The other user must reach everything below it.
chmod 755 "$trabajo"
fallo() {
  echo "FALLO: $*" >&2
  exit 1
}

echo "== Paquetes"
if ! "$cpack" -G DEB --config "$arbol/CPackConfig.cmake" -B "$trabajo/debs" >"$trabajo/cpack.log" 2>&1; then
  cat "$trabajo/cpack.log" >&2
  fallo "cpack"
fi
programa=$(echo "$trabajo"/debs/cribanzas_*.deb)
dev=$(echo "$trabajo"/debs/cribanzas-consulta-dev_*.deb)
if [ ! -f "$programa" ] || [ ! -f "$dev" ]; then fallo "faltan paquetes: $(ls "$trabajo/debs")"; fi
for deb in "$programa" "$dev"; do
  echo "-- $(basename "$deb")"
  dpkg-deb -f "$deb" Package Version Architecture Depends Recommends Suggests | sed 's/^/   /'
  dpkg-deb -c "$deb" | awk '$6 !~ /\/$/ {print "   " $1, $3, $6}'
done

tiene() { # PAQUETE PATRÓN: a path of the package matches the extended regular expression
  dpkg-deb -c "$1" | awk '{print $6}' | grep -Eq "$2" || fallo "$(basename "$1") no tiene $2"
}
for f in usr/bin/cribanzas usr/bin/cribanzas-consulta usr/share/applications/cribanzas.desktop \
  usr/share/icons/hicolor/scalable/apps/cribanzas.svg usr/share/icons/hicolor/48x48/apps/cribanzas.png \
  usr/share/man/man1/cribanzas.1.gz usr/share/man/man1/cribanzas-consulta.1.gz; do
  tiene "$programa" "^\./$f\$"
done
for deb in "$programa" "$dev"; do
  paquete=$(dpkg-deb -f "$deb" Package)
  tiene "$deb" "^\./usr/share/doc/$paquete/copyright\$"
  tiene "$deb" "^\./usr/share/doc/$paquete/changelog\.Debian\.gz\$"
done
# The operator's guide and every picture it shows, where its links find them.
tiene "$programa" '^\./usr/share/doc/cribanzas/guia-del-operador\.md$'
tiene "$programa" '^\./usr/share/doc/cribanzas/guia-del-administrador\.md$'
tiene "$dev" '^\./usr/share/doc/cribanzas-consulta-dev/desarrollo\.md$'
for imagen in $(dpkg-deb --fsys-tarfile "$programa" | tar -xOf - ./usr/share/doc/cribanzas/guia-del-operador.md |
  grep -o '(capturas/[^)]*\.png)' | tr -d '()' | sort -u); do
  tiene "$programa" "^\./usr/share/doc/cribanzas/${imagen//./\\.}\$"
done
tiene "$dev" '/include/cribanzas/lookup/lib_clscons2\.h$'
tiene "$dev" '/cmake/CribanzasConsulta/CribanzasConsultaConfig\.cmake$'
tiene "$dev" '/lib[^/]*/([^/]+/)?liblookup\.a$'
depende=$(dpkg-deb -f "$programa" Depends)
for p in libqt6sql6-sqlite libqt6sql6-odbc libqt6widgets6 libodbc2; do
  grep -Eq "(^|, )$p( |,|$)" <<<"$depende" || fallo "cribanzas no depende de $p"
done
recomienda=$(dpkg-deb -f "$programa" Recommends)
for p in tdsodbc qt6-translations-l10n; do
  grep -Eq "(^|, )$p( |,|$)" <<<"$recomienda" || fallo "cribanzas no recomienda $p"
done

echo "== Lintian"
# Its own notices (it warns root against running it) go to standard error, the packages' to
# standard output.
lintian --fail-on error,warning "$programa" "$dev" >"$trabajo/lintian.txt" 2>"$trabajo/lintian.err" || {
  cat "$trabajo/lintian.txt" "$trabajo/lintian.err" >&2
  fallo "lintian"
}
if [ -s "$trabajo/lintian.txt" ]; then sed 's/^/   /' "$trabajo/lintian.txt"; else echo "   sin errores ni avisos"; fi
# What lintian cannot see: the owner's two decisions still stand in for real ones.
if dpkg-deb -f "$programa" Maintainer | grep -q 'A DEFINIR'; then
  echo "   pendiente del dueño: el mantenedor ($(dpkg-deb -f "$programa" Maintainer))"
fi
if dpkg-deb --fsys-tarfile "$programa" | tar -xOf - ./usr/share/doc/cribanzas/copyright | grep -q 'PENDIENTE'; then
  echo "   pendiente del dueño: la licencia (empaquetado/copyright)"
fi

echo "== Menú y manual"
raiz=$trabajo/raiz
dpkg-deb -x "$programa" "$raiz"
desktop-file-validate "$raiz/usr/share/applications/cribanzas.desktop" || fallo "la entrada del menú no es válida"
for manual in cribanzas cribanzas-consulta; do
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$raiz/usr/share/man/man1/$manual.1.gz" \
    >"$trabajo/manual.txt" 2>"$trabajo/manual.err" || fallo "man -l $manual: $(cat "$trabajo/manual.err")"
  [ ! -s "$trabajo/manual.err" ] || fallo "avisos del manual de $manual: $(cat "$trabajo/manual.err")"
  grep -q 'ESTADO DE SALIDA' "$trabajo/manual.txt" || fallo "el manual de $manual no se lee"
done

echo "== Simulación desde una carpeta de solo lectura"
chmod -R a-w "$raiz"
mkdir "$trabajo/datos" "$trabajo/casa"
"$generar_demo" "$trabajo/datos/conta.db" >/dev/null
chmod 755 "$trabajo/datos"
chmod 644 "$trabajo/datos/conta.db"
como=()
if [ "$(id -u)" -eq 0 ]; then
  chown 65534:65534 "$trabajo/casa"
  como=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
# A clean environment: the user's folders in the scratch folder, no system folder.
entorno=(env -i PATH=/usr/bin:/bin LANG=C.UTF-8 HOME="$trabajo/casa" XDG_CONFIG_HOME="$trabajo/casa/.config"
  CRIBANZAS_CARPETA_SISTEMA="$trabajo/etc")
linea="@Server=;@DbName=$trabajo/datos/conta.db;@Usuario=;@Password=;@UsuarioLogeado=demo;@Caja=1;"
estado=0
"${entorno[@]}" "${como[@]}" "$raiz/usr/bin/cribanzas" --desatendido --ejercicio 2022 --simular "$linea" \
  >"$trabajo/salida.txt" 2>"$trabajo/errores.txt" || estado=$?
cat "$trabajo/salida.txt" "$trabajo/errores.txt" | sed 's/^/   /'
[ "$estado" -eq 0 ] || fallo "la simulación terminó con estado $estado"
! grep -Eq '^\[[^]]*\] Error -?[0-9]+:' "$trabajo/errores.txt" || fallo "la simulación informó un error"
mascaras=$trabajo/casa/.config/cribanzas/consultas.vlm
[ "$(stat -c %s "$mascaras" 2>/dev/null)" = 4808 ] || fallo "no se escribió $mascaras"
echo "   máscaras en ${mascaras#"$trabajo"/}, $(stat -c '%s bytes, de %U' "$mascaras")"
"${entorno[@]}" QT_QPA_PLATFORM=offscreen "${como[@]}" "$raiz/usr/bin/cribanzas-consulta" --help >/dev/null ||
  fallo "consulta --help"

echo "== Programa que usa el paquete -dev"
dpkg-deb -x "$dev" "$trabajo/dev"
construccion=$trabajo/consumidor
if ! { cmake -S "$consumidor" -B "$construccion" -G "$generador" -DCMAKE_PREFIX_PATH="$trabajo/dev/usr" \
  -DQt6_DIR="$qt_dir" && cmake --build "$construccion"; } >"$trabajo/consumidor.log" 2>&1; then
  cat "$trabajo/consumidor.log" >&2
  fallo "no se construyó el consumidor"
fi
grep -q "^CribanzasConsulta_DIR:PATH=$trabajo/dev/" "$construccion/CMakeCache.txt" ||
  fallo "el consumidor no usó el paquete desempaquetado"
QT_QPA_PLATFORM=offscreen "$construccion/consumidor" || fallo "el consumidor falló"

echo "== Bien, en $((SECONDS - inicio)) s"
