#!/usr/bin/env bash
# Installs the built program into a temporary prefix, checks what lands
# there, keeps the user's options over a second installation, and checks
# that uninstalling removes exactly what was installed.
set -euo pipefail
src="$1"; prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
run() { bash "$src/scripts/install-user" "$@" >/dev/null; }
app="$prefix/lib/tastvolk-lesemund"; bin="$prefix/bin/tastvolk-lesemund"
entry="$prefix/share/applications/tastvolk-lesemund.desktop"
run install "$2" "$prefix"
for f in "$app"/tastvolk-lesemund "$app"/lesemund/{sp,hilfe.txt,optionen.ini,chat.ini} "$bin" "$entry" \
         "$prefix/share/icons/hicolor/scalable/apps/tastvolk-lesemund.svg"; do [ -e "$f" ] || fail "missing $f"; done
[ -x "$bin" ] && [ -w "$app/lesemund" ] || fail "launcher not executable or data folder not writable"
grep -q "^Exec=$bin$" "$entry" && grep -q "^Name\[de\]=Tastvolk Lesemund$" "$entry" || fail "desktop entry"
printf '[optionen]\r\nAktivesFenster=0\r\n' > "$app/lesemund/optionen.ini"
run install "$2" "$prefix"
grep -q "AktivesFenster=0" "$app/lesemund/optionen.ini" || fail "reinstall overwrote the user's options"
mkdir -p "$prefix/share/applications/other"
run uninstall "$prefix"
for f in "$app" "$bin" "$entry"; do [ ! -e "$f" ] || fail "left behind: $f"; done
[ -d "$prefix/share/applications/other" ] || fail "uninstall removed something that was not ours"
