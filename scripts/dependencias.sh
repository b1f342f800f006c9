#!/usr/bin/env bash
# Installs the Debian packages the project needs, skipping those already there.
set -euo pipefail
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
paquetes=(cmake ninja-build g++ clang libclang-rt-14-dev pkg-config clang-format
  qt6-base-dev libqt6sql6-sqlite libqt6sql6-odbc
  unixodbc unixodbc-dev odbcinst libsqliteodbc tdsodbc
  libsqlite3-dev sqlite3 libssl-dev libgtest-dev googletest
  fonts-dejavu-core xvfb xauth xdotool imagemagick openbox x11-utils locales qt6-translations-l10n)
# The limits on the length and complexity of the program's functions (scripts/complejidad.sh).
paquetes+=(clang-tidy-14)
# The T-SQL grammar check of every statement the tool sends (ctest -L gramatica).
paquetes+=(sqlfluff)
# The year's listings as PDF (cairo and pango), and poppler's tools that read them back in the
# tests (pdftotext, pdfinfo, pdftoppm).
paquetes+=(libcairo2-dev libpango1.0-dev poppler-utils)
# Building and checking the Debian packages: dpkg-shlibdeps and file (for CPack), the icon's
# PNG sizes, the checks of the menu entry and the man pages, and Debian's package checker.
paquetes+=(dpkg-dev file librsvg2-bin desktop-file-utils man-db lintian)
faltan=()
for p in "${paquetes[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || faltan+=("$p")
done
if [ ${#faltan[@]} -gt 0 ]; then
  echo "Instalando: ${faltan[*]}"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${faltan[@]}" >/dev/null
fi

# The operators' Spanish locale, which the system tests run under, and the locales the date
# test runs the purge under (a cron job's or a desktop's, none of which may change a date).
# Only the missing ones are generated.
locales=(es_AR en_US de_DE pt_BR ar_EG)
faltan=()
for l in "${locales[@]}"; do
  locale -a 2>/dev/null | grep -qi "^$l\.utf-\?8\$" || faltan+=("$l")
done
if [ ${#faltan[@]} -gt 0 ]; then
  echo "Generando los locales: ${faltan[*]/%/.UTF-8}"
  for l in "${faltan[@]}"; do
    $sudo_cmd sed -i "s/^# *\($l\.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$l\.UTF-8 UTF-8" /etc/locale.gen || echo "$l.UTF-8 UTF-8" | $sudo_cmd tee -a /etc/locale.gen >/dev/null
  done
  $sudo_cmd locale-gen --keep-existing >/dev/null
fi
