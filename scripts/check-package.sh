#!/usr/bin/env bash
# Checks a built package (scripts/package.sh): unpacks it into a temporary
# root, validates the desktop entry, looks for the programs and the icons,
# and starts the unpacked station offscreen until its login dialog opens.
set -euo pipefail
cd "$(dirname "$0")/.."
deb="${1:-$(ls build/package/sorvent_*.deb | head -n 1)}"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "paquete: $*" >&2; exit 1; }

dpkg-deb -x "$deb" "$root"
deps=$(dpkg-deb -f "$deb" Depends)
for d in libqt6widgets6 libqt6sql6-sqlite libqt6sql6-psql libsqlite3; do
  grep -q "$d" <<<"$deps" || fail "falta la dependencia $d en «$deps»"
done
for p in sorvent sorvent-panelsim sorvent-catalogo sorvent-db sorvent-tareas; do
  [ -x "$root/usr/bin/$p" ] || fail "falta /usr/bin/$p"
done
# The job runner's unit ships, but disabled: no link into a target and no
# maintainer script that enables or starts it.
unit="$root/usr/lib/systemd/system/sorvent-tareas.service"
[ -f "$unit" ] || fail "falta la unidad $unit"
grep -q '^ExecStart=/usr/bin/sorvent-tareas ' "$unit" || fail "la unidad no arranca /usr/bin/sorvent-tareas"
if find "$root/etc" "$root/lib" "$root/usr/lib/systemd" -path '*.wants/*' 2>/dev/null | grep -q .; then
  fail "la unidad sorvent-tareas viene habilitada"
fi
control=$(mktemp -d)
dpkg-deb -e "$deb" "$control"
if grep -qsE 'systemctl (enable|start)|deb-systemd-helper enable|deb-systemd-invoke start' "$control"/*; then
  rm -rf "$control"
  fail "un guion del paquete habilita o arranca sorvent-tareas"
fi
rm -rf "$control"
"$root/usr/bin/sorvent-tareas" --help | grep -q -- "--directorio" || fail "sorvent-tareas --help no lista --directorio"
desktop="$root/usr/share/applications/sorvent.desktop"
desktop-file-validate "$desktop" || fail "entrada de escritorio inválida"
icon=$(sed -n 's/^Icon=//p' "$desktop")
hicolor="$root/usr/share/icons/hicolor"
[ -f "$hicolor/scalable/apps/$icon.svg" ] || fail "falta el icono SVG $icon"
for s in 16 24 32 48 64 128 256; do
  f="$hicolor/${s}x${s}/apps/$icon.png"
  [ -f "$f" ] || fail "falta el icono $f"
  file "$f" | grep -q "$s x $s" || fail "$f no mide ${s}x${s}"
done

# --help needs no display; then the station itself, up to its login.
"$root/usr/bin/sorvent" --help | grep -q -- "--directorio" || fail "--help no lista --directorio"
dir="$root/datos"
QT_QPA_PLATFORM=offscreen "$root/usr/bin/sorvent" --directorio "$dir" >"$root/salida.txt" 2>&1 &
pid=$!
for _ in $(seq 1 150); do
  if grep -q "diálogo de ingreso abierto" "$dir/sorvent.log" 2>/dev/null; then break; fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.2
done
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
grep -q "diálogo de ingreso abierto" "$dir/sorvent.log" 2>/dev/null || {
  cat "$dir/sorvent.log" "$root/salida.txt" >&2 2>/dev/null || true
  fail "la estación no llegó al diálogo de ingreso"
}
[ -f "$dir/sorvent20.mdb" ] || fail "no se creó la base de datos en --directorio"
[ "$(stat -c %a "$dir/sorvent.log")" = 600 ] || fail "sorvent.log no es solo del dueño"
[ -s "$root/salida.txt" ] && { cat "$root/salida.txt" >&2; fail "la estación escribió en la terminal"; }
echo "paquete: $(basename "$deb") correcto"
