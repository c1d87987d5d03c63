#!/bin/bash
# .import --json against Python's json module with executemany of its SQLite binding in one
# transaction, on the same file of 1,000,000 objects, one per line, loading a new table of a
# database file (the columns are the keys; nested values stored as JSON text, as .import
# does).  Prints wall and CPU (user+system) seconds, the best of RUNS runs each, and the
# ratios (target: Python / .import > 1).
#   bench/import_json_vs_python.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
RUNS=${2:-3}
BENCH=$(find "$BUILD" -type f -name bench_import_types -perm -u+x | head -n 1)
SQLSH=$(find "$BUILD" -type f -name sqlsh -perm -u+x | head -n 1)
[ -n "$BENCH" ] || { echo "bench_import_types not built in $BUILD" >&2; exit 1; }
DIR=$(mktemp -d)
trap 'rm -rf "$DIR"' EXIT
JSON=$DIR/data.json
"$BENCH" --generate-json "$JSON"
echo "input: $(wc -l < "$JSON") objects, $(( $(stat -c %s "$JSON") / 1000000 )) MB"

cat > "$DIR/load.py" <<'PY'
import json, sqlite3, sys
con = sqlite3.connect(sys.argv[2])
with open(sys.argv[1], encoding='utf-8') as f:
    objects = [json.loads(line) for line in f if line.strip()]
keys = []
for o in objects:
    for k in o:
        if k not in keys:
            keys.append(k)
def value(v):
    if isinstance(v, (list, dict)):
        return json.dumps(v, separators=(',', ':'), ensure_ascii=False)
    return v
con.execute('CREATE TABLE t(%s)' % ', '.join('"%s"' % k for k in keys))
with con:  # one transaction
    con.executemany('INSERT INTO t VALUES(%s)' % ','.join('?' * len(keys)),
                    ([value(o.get(k)) for k in keys] for o in objects))
con.close()
PY

if [ -n "$SQLSH" ]; then
  run_import() { "$SQLSH" "$1" ".import --json $JSON t"; }
  echo ".import through $SQLSH"
else
  run_import() { "$BENCH" --shell-json "$JSON" "$1"; }
  echo ".import through $BENCH --shell-json"
fi
run_python() { /usr/bin/env python3 "$DIR/load.py" "$JSON" "$1"; }

measure() {
  local best_wall=999999 best_cpu=999999 i out wall cpu
  for ((i = 0; i < RUNS; i++)); do
    rm -f "$DIR/db"
    out=$( { TIMEFORMAT='%R %U %S'; time "$@" "$DIR/db" >/dev/null; } 2>&1 | tail -n 1)
    wall=$(echo "$out" | awk '{print $1}')
    cpu=$(echo "$out" | awk '{print $2 + $3}')
    best_wall=$(awk -v a="$best_wall" -v b="$wall" 'BEGIN{print (b < a) ? b : a}')
    best_cpu=$(awk -v a="$best_cpu" -v b="$cpu" 'BEGIN{print (b < a) ? b : a}')
  done
  echo "$best_wall $best_cpu"
}

read -r pw pc < <(measure run_python)
read -r sw sc < <(measure run_import)
printf 'python json+executemany: %6.2f s wall, %6.2f s cpu\n' "$pw" "$pc"
printf '.import --json:          %6.2f s wall, %6.2f s cpu\n' "$sw" "$sc"
awk -v pw="$pw" -v pc="$pc" -v sw="$sw" -v sc="$sc" 'BEGIN{
  printf "python/.import: %.2fx wall, %.2fx cpu (target > 1)\n", pw / sw, pc / sc }'
