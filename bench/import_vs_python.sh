#!/bin/bash
# .import against Python's csv module with executemany of its SQLite binding in one
# transaction, on the same ~100 MB, 1,000,000-row CSV file, loading a new
# table of a database file.  Prints wall and CPU (user+system) seconds, the
# best of RUNS runs each, and the ratios (target: Python / .import >= 1.5).
#   bench/import_vs_python.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
RUNS=${2:-3}
BENCH=$(find "$BUILD" -type f -name bench_import -perm -u+x | head -n 1)
SQLSH=$(find "$BUILD" -type f -name sqlsh -perm -u+x | head -n 1)
[ -n "$BENCH" ] || { echo "bench_import not built in $BUILD" >&2; exit 1; }
DIR=$(mktemp -d)
trap 'rm -rf "$DIR"' EXIT
CSV=$DIR/data.csv
"$BENCH" --generate "$CSV"
echo "input: $(wc -l < "$CSV") lines, $(( $(stat -c %s "$CSV") / 1000000 )) MB"

cat > "$DIR/load.py" <<'PY'
import csv, sqlite3, sys
con = sqlite3.connect(sys.argv[2])
with open(sys.argv[1], newline='', encoding='utf-8') as f:
    rows = csv.reader(f)
    header = next(rows)
    con.execute('CREATE TABLE t(%s)' % ', '.join('"%s" TEXT' % h for h in header))
    with con:  # one transaction
        con.executemany('INSERT INTO t VALUES(%s)' % ','.join('?' * len(header)), rows)
con.close()
PY

if [ -n "$SQLSH" ]; then
  run_import() { "$SQLSH" "$1" ".import --csv $CSV t"; }
  echo ".import through $SQLSH"
else
  run_import() { "$BENCH" --shell "$CSV" "$1"; }
  echo ".import through $BENCH --shell (no sqlsh executable found)"
fi
run_python() { /usr/bin/env python3 "$DIR/load.py" "$CSV" "$1"; }

# Best wall and CPU seconds of RUNS runs of a command given a fresh database.
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
  rows=$(sqlite3_rows "$DIR/db")
  echo "$best_wall $best_cpu $rows"
}
sqlite3_rows() {
  "$BENCH" --count "$1" 2>/dev/null || echo "?"
}

read -r pw pc prows < <(measure run_python)
read -r sw sc srows < <(measure run_import)
printf 'python csv+executemany: %6.2f s wall, %6.2f s cpu, %s rows\n' "$pw" "$pc" "$prows"
printf '.import:                %6.2f s wall, %6.2f s cpu, %s rows\n' "$sw" "$sc" "$srows"
awk -v pw="$pw" -v pc="$pc" -v sw="$sw" -v sc="$sc" 'BEGIN{
  printf "python/.import: %.2fx wall, %.2fx cpu (target >= 1.5)\n", pw / sw, pc / sc }'
