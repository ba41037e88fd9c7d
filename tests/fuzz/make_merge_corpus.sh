#!/usr/bin/env bash
# Regenerates the seed corpus of fuzz_merge: update files exported by
# sorvent-catalogo from a reduced catalogue, stored with 512-byte pages so
# that each seed stays a few KB. Model 1 overlaps the demo catalogue the
# harness merges into (rows updated, template values with history); model 3
# is new to it (rows inserted); modelo13 holds both.
# Usage: tests/fuzz/make_merge_corpus.sh [path to sorvent-catalogo]
set -euo pipefail
cd "$(dirname "$0")/../.."
tool="${1:-build/fuzz/bin/sorvent-catalogo}"
out=tests/fuzz/corpus/fuzz_merge
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

sqlite3 "$tmp/estacion.mdb" <<'SQL'
.read src/data/schema.sql
.read src/data/reference.sql
INSERT INTO paneles VALUES (1, 'PX-16', '1.1', '1', 40), (3, 'MX-8', '0.9', '17', 4);
INSERT INTO secciones (id_panel, id_seccion, tipo, long, caracteres, posicion, descripcion, filler) VALUES
 (1, 0, 2, 0, NULL, 0, 'Tipos de Zona 01 a 08', NULL),
 (1, 2, 1, 0, NULL, 20, 'Atributos de Zona 01', NULL),
 (1, 20, 3, 0, 3, 60, 'Temporizadores del Sistema', NULL),
 (1, 24, 5, 32, 32, 110, 'Teléfono de Central 1', 'F'),
 (1, 27, 4, 4, 4, 150, 'Número de Abonado Partición 1', 'F'),
 (3, 0, 2, 0, 2, 4990, 'Tipos de Zona', NULL),
 (3, 1, 1, 0, NULL, 4989, 'Opciones', NULL),
 (3, 2, 5, 16, 16, 4980, 'Etiqueta', NULL),
 (3, 3, 4, 2, 2, 5000, 'Código', '0');
INSERT INTO secciones_valores VALUES
 (1, 0, '00', 'Deshabilitada'), (1, 0, '03', 'Instantánea'), (1, 2, '0', 'No'), (1, 2, '1', 'Sí'),
 (3, 0, '00', NULL), (3, 0, '0A', 'Médica'), (3, 1, '1', 'Sí');
INSERT INTO secciones_items VALUES
 (1, 0, 1, 'Zona 01'), (1, 0, 8, 'Zona 08'), (1, 2, 1, 'Sirena audible'), (1, 2, 8, 'Chequeo de tamper'),
 (1, 20, 1, 'Tiempo de entrada 1 (seg)'), (1, 24, 1, 'Número telefónico'), (1, 27, 1, 'Número de abonado'),
 (3, 0, 1, 'Zona 1'), (3, 0, 11, 'Zona 11'), (3, 1, 1, 'Chime'), (3, 1, 8, 'Armado'), (3, 2, 1, 'Texto'),
 (3, 3, 1, 'Código');
INSERT INTO configuraciones_valores VALUES
 (1, 1, 0, 1, '04', 1), (1, 1, 0, 8, NULL, 0), (1, 1, 2, 1, '0', -1), (1, 1, 20, 1, '030', 1),
 (1, 1, 24, 1, '43514200FFFFFFFFFFFFFFFFFFFFFFFF', 1), (1, 1, 27, 1, '9876', 0),
 (1, 3, 0, 1, '0A', 1), (1, 3, 0, 11, '00', 0), (1, 3, 1, 8, '1', -1), (1, 3, 2, 1, '41424344', 1),
 (1, 3, 3, 1, 'FF', 0);
SQL

# Each model alone, and both in one file (the merge's order across models).
for m in 1 3 13; do
  panels=()
  for p in $(echo "$m" | grep -o .); do panels+=(--panel "$p"); done
  rm -f "$out/modelo$m"
  "$tool" "${panels[@]}" "$tmp/estacion.mdb" "$tmp/modelo$m.mdb" >/dev/null
  sqlite3 "$tmp/modelo$m.mdb" "PRAGMA page_size = 512; VACUUM;"
  cp "$tmp/modelo$m.mdb" "$out/modelo$m"
done
ls -l "$out"
