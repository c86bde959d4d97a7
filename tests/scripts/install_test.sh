#!/usr/bin/env bash
# Installs the built program into a temporary prefix, checks what lands
# there, keeps the user's settings over a second installation, and checks
# that uninstalling removes exactly what was installed.
set -euo pipefail
src="$1"; build="$2"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; echo "0 passed, 1 failed"; exit 1; }

bash "$src/scripts/install-user" install "$build" "$prefix" >/dev/null
app="$prefix/lib/tastvolk-lesemund"
for f in "$app/tastvolk-lesemund" "$app/lesemund/sp" "$app/lesemund/hilfe.txt" "$app/lesemund/optionen.ini" \
         "$app/lesemund/chat.ini" "$prefix/bin/tastvolk-lesemund" \
         "$prefix/share/applications/tastvolk-lesemund.desktop" \
         "$prefix/share/icons/hicolor/scalable/apps/tastvolk-lesemund.svg"; do
  [ -e "$f" ] || fail "missing $f"
done
[ -x "$prefix/bin/tastvolk-lesemund" ] || fail "launcher not executable"
[ -w "$app/lesemund" ] || fail "data folder not writable"
grep -q "^Exec=$prefix/bin/tastvolk-lesemund$" "$prefix/share/applications/tastvolk-lesemund.desktop" || fail "desktop entry Exec"
grep -q "^Name\[de\]=Tastvolk Lesemund$" "$prefix/share/applications/tastvolk-lesemund.desktop" || fail "desktop entry name"

printf '[optionen]\r\nAktivesFenster=0\r\n' > "$app/lesemund/optionen.ini"
bash "$src/scripts/install-user" install "$build" "$prefix" >/dev/null
grep -q "AktivesFenster=0" "$app/lesemund/optionen.ini" || fail "reinstall overwrote the user's options"

mkdir -p "$prefix/share/applications/other"
bash "$src/scripts/install-user" uninstall "$prefix" >/dev/null
[ ! -e "$app" ] || fail "application folder left behind"
[ ! -e "$prefix/bin/tastvolk-lesemund" ] || fail "launcher left behind"
[ ! -e "$prefix/share/applications/tastvolk-lesemund.desktop" ] || fail "desktop entry left behind"
[ -d "$prefix/share/applications/other" ] || fail "uninstall removed something that was not ours"
echo "1 passed, 0 failed"
