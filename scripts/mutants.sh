#!/usr/bin/env bash
# Mutation check: each single-line mutant of tests/mutants.txt (a rule that
# decides what is stored or sent, broken on purpose) is applied in turn to a
# copy of the sources in build/mutants, rebuilt incrementally, and the tests
# that cover it run on SQLite. A mutant a test fails on is killed; one that
# passes every test survived: no test holds that rule. Prints each result and
# the score. Not part of CI (it rebuilds once per mutant).
#
#   bash scripts/mutants.sh                 # every mutant of the list
#   bash scripts/mutants.sh 'link/'         # only mutants of files matching the pattern
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
only=${1:-}
work=$root/build/mutants
src=$work/src
bld=$work/build
list=$root/tests/mutants.txt

bash scripts/install-deps.sh

# A copy of the working tree (committed or not), so the tree itself is never
# touched; unchanged files are left alone and not rebuilt.
mkdir -p "$src"
git ls-files -co --exclude-standard -z >"$work/files"
# Files whose content differs are copied (and so rebuilt); files gone from
# the tree go from the copy too (a build globs its sources).
python3 - "$src" "$work/files" <<'PY'
import filecmp, os, shutil, sys
src, listing = sys.argv[1:3]
files = [f for f in open(listing, encoding="utf-8").read().split("\0") if f]
for f in files:
    to = os.path.join(src, f)
    if not os.path.exists(to) or not filecmp.cmp(f, to, shallow=False):
        os.makedirs(os.path.dirname(to), exist_ok=True)
        shutil.copy(f, to)
keep = set(files)
for d, _, names in os.walk(src):
    for n in names:
        rel = os.path.relpath(os.path.join(d, n), src)
        if rel not in keep:
            os.remove(os.path.join(d, n))
PY
launcher=()
if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S "$src" -B "$bld" -DCMAKE_BUILD_TYPE=Debug -DSORVENT_TESTS=ON "${launcher[@]}" >/dev/null

# A mutant's tests run on a file, or on the throw-away server when the list
# names their postgresql runs (a rule only a server has).
label_of() {
  if [[ "$1" == *postgresql* ]]; then echo postgresql; else echo sqlite; fi
}

# The test programs a mutant's tests run: only those are rebuilt for it.
targets_of() {
  (cd "$bld" && ctest -N -L "$(label_of "$1")" -R "$1") | sed -n 's|^ *Test *#[0-9]*: *\([^ ]*\)$|\1|p' |
    grep -v '^postgresql/' | sed 's|/postgresql$||' | tr '/' '_'
}

# The unchanged tree must build: otherwise every mutant would count as
# killed for not compiling.
if ! cmake --build "$bld" -j"$(nproc)" >"$work/build.log" 2>&1; then
  echo "El árbol sin mutantes no compila (build/mutants/build.log)" >&2
  exit 1
fi

killed=0
survived=0
broken=0
survivors=()
while IFS=$'\t' read -r file text replacement tests rule; do
  [[ -z "$file" || "$file" == \#* ]] && continue
  [[ -n "$only" && "$file" != *$only* ]] && continue
  target=$src/$file
  backup=$work/original
  cp -p "$target" "$backup"
  # Exactly one occurrence, or the list is out of date.
  if ! python3 - "$target" "$text" "$replacement" <<'EOF'
import sys
path, text, repl = sys.argv[1:4]
s = open(path, encoding='utf-8').read()
if s.count(text) != 1:
    sys.exit(1)
open(path, 'w', encoding='utf-8').write(s.replace(text, repl))
EOF
  then
    echo "LISTA DESACTUALIZADA  $file: «$text» no aparece una sola vez"
    broken=$((broken + 1))
    continue
  fi
  touch "$target"
  mapfile -t wanted < <(targets_of "$tests")
  if [ ${#wanted[@]} -eq 0 ]; then
    echo "LISTA DESACTUALIZADA  $file: ninguna prueba responde a «$tests»"
    broken=$((broken + 1))
    cp -p "$backup" "$target"
    continue
  fi
  label=$(label_of "$tests")
  # On the server the cluster's stop must run whatever the tests gave.
  stop=(--stop-on-failure)
  [ "$label" = postgresql ] && stop=()
  if ! cmake --build "$bld" -j"$(nproc)" --target "${wanted[@]}" >"$work/build.log" 2>&1; then
    result="muerto (no compila)"
    killed=$((killed + 1))
  elif (cd "$bld" && QT_QPA_PLATFORM=offscreen ctest -L "$label" -R "$tests" "${stop[@]}" >"$work/test.log" 2>&1); then
    result="SOBREVIVIÓ"
    survived=$((survived + 1))
    survivors+=("$file: $rule")
  else
    result="muerto"
    killed=$((killed + 1))
  fi
  printf '%-22s %s: %s\n' "$result" "$file" "$rule"
  cp -p "$backup" "$target"
  touch "$target"
done <"$list"

total=$((killed + survived))
if [ "$total" -gt 0 ]; then
  echo "Mutantes: $total, muertos: $killed, sobrevivientes: $survived, puntaje: $((100 * killed / total)) %"
fi
for s in "${survivors[@]}"; do echo "  sobrevive: $s"; done
[ "$broken" -eq 0 ] || { echo "$broken mutantes no se pudieron aplicar"; exit 1; }
