#!/usr/bin/env bash
# How many small faults the native tests catch: picks single-line mutants of the portable
# code (download/, script/, app/) with a seeded generator, builds each in a scratch copy of
# the source and runs the native tests against it. The working tree is never touched.
#   tools/mutants.sh [seed] [count]        (defaults: 1 and 60; QX_MUTANTS overrides the scratch folder)
# A mutant is killed when a test fails or times out; one that does not build is counted
# apart, since the compiler, not a test, caught it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seed=${1:-1}
count=${2:-60}
work=${QX_MUTANTS:-$top/build/mutants}
src=$work/src
bin=$work/native

# A fresh copy each run: every file gets a new time, so nothing left over from an
# earlier mutant is taken for up to date.
rm -rf "$src"
mkdir -p "$src"
tar -C "$top" --exclude=./build --exclude=./.git -cf - . | tar -C "$src" --touch -xf -
# The sanitizers stay (they catch mutants too); light optimisation keeps each build short.
cmake -S "$src" -B "$bin" -G Ninja -DCMAKE_BUILD_TYPE= -DCMAKE_C_FLAGS=-O1 -DCMAKE_CXX_FLAGS=-O1 \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake --build "$bin" >/dev/null
# Runs the tests whose programs were linked anew since the stamp (a test is named after
# its program), or every test.
tests() {
  local only=()
  if [ -e "$work/stamp" ]; then
    local names
    names=$(find "$bin" -type f -perm -u+x -newer "$work/stamp" -printf '%f\n' | sort -u | paste -sd'|')
    [ -n "$names" ] || return 0
    only=(-R "^($names)\$")
  fi
  timeout 900 ctest --test-dir "$bin" -j "$(nproc)" --timeout 120 --stop-on-failure "${only[@]}" >/dev/null 2>&1
}
rm -f "$work/stamp"
tests || { echo "the native tests fail before any mutant" >&2; exit 1; }

# The mutants: file, line and the line's new text, one per row, tab-separated.
python3 - "$src" "$bin/compile_commands.json" "$seed" "$count" >"$work/list" <<'EOF'
import json, random, re, sys
src, db, seed, count = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
ops = [(r'(?<![=!<>])==(?!=)', '!='), (r'!=', '=='), (r'(?<![<>])<=', '<'), (r'(?<![<>-])>=', '>'),
       (r' < ', ' <= '), (r' > ', ' >= '), (r'&&', '||'), (r'\|\|', '&&'),
       (r'\btrue\b', 'false'), (r'\bfalse\b', 'true'), (r' \+ 1\b', ' - 1'), (r' - 1\b', ' + 1'),
       (r'\+\+', '--'), (r'\bbreak;', ';'), (r'\b0\b', '1')]
call = re.compile(r'^(\s*)[\w:.>\[\]-]+\(.*\);\s*$')
files = sorted({e['file'] for e in json.load(open(db))})
groups = {}
for d in ('download', 'script', 'app'):
    sites = []
    for f in files:
        if not f.startswith(f'{src}/{d}/'):
            continue
        hooks = 0
        for n, line in enumerate(open(f, encoding='utf-8'), 1):
            t = line.strip()
            if t.startswith('#'):
                hooks += 'QX_TEST_HOOKS' in t and t.startswith('#if')
                hooks -= hooks > 0 and t.startswith('#endif')
                continue
            if hooks or not t or t.startswith(('//', '*', '/*', 'static_assert')):
                continue
            code = re.sub(r'"(\\.|[^"\\])*"|\'(\\.|[^\'\\])*\'', lambda m: '"' + 'x' * (len(m[0]) - 2) + '"', line)
            code = code.split('//')[0]
            for pat, new in ops:
                for m in re.finditer(pat, code):
                    sites.append((f, n, line[:m.start()] + new + line[m.end():]))
            m = call.match(line)
            if m and not t.startswith(('return', 'delete')):
                sites.append((f, n, m[1] + ';\n'))
    groups[d] = sites
rng = random.Random(seed)
per = -(-count // len(groups))
for d, sites in groups.items():
    rng.shuffle(sites)
    seen = set()
    for f, n, new in sites:
        if (f, n) in seen:
            continue
        seen.add((f, n))
        print(f'{f[len(src) + 1:]}\t{n}\t{new.rstrip(chr(10))!r}')
        if len(seen) == per:
            break
EOF

killed=0 survived=0 unbuilt=0
while IFS=$'\t' read -r file line text; do
  cp "$src/$file" "$work/original"
  python3 -c 'import ast, sys
f, n, t = sys.argv[1], int(sys.argv[2]), ast.literal_eval(sys.argv[3])
lines = open(f, encoding="utf-8").read().split("\n")
lines[n - 1] = t
open(f, "w", encoding="utf-8").write("\n".join(lines))' "$src/$file" "$line" "$text"
  touch "$work/stamp"
  if ! timeout 900 cmake --build "$bin" >/dev/null 2>&1; then
    verdict=unbuilt; unbuilt=$((unbuilt + 1))
  elif tests; then
    verdict=SURVIVED; survived=$((survived + 1))
  else
    verdict=killed; killed=$((killed + 1))
  fi
  printf '%-8s %s:%s %s\n' "$verdict" "$file" "$line" "$text"
  # A plain copy gives the restored file a new time, so the next build compiles it again.
  cp "$work/original" "$src/$file"
done <"$work/list"

built=$((killed + survived))
echo "seed $seed: killed $killed of $built built mutants ($((built ? 100 * killed / built : 0))%); $unbuilt did not build"
