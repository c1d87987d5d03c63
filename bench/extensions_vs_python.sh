#!/bin/bash
# The SQL extensions against Python doing the same work through its SQLite binding, on the
# same database file:
#   - regexp over 1,000,000 rows of short text for a few typical patterns, against Python's
#     re registered with create_function (target: ours at least 3 times faster);
#   - a pathological pattern, (a?){N}a{N} against N a's, where a backtracking matcher takes
#     exponential time (Python's time shown beside ours);
#   - decimal_sum over 1,000,000 rows of 30-digit values, against Python's decimal summing
#     the same values (target: ours faster).
# Prints wall-clock seconds, the best of RUNS runs each, and the ratios.
#   bench/extensions_vs_python.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build-rel}
RUNS=${2:-3}
SQLSH=$BUILD/shell/sqlsh
[ -x "$SQLSH" ] || { echo "sqlsh not built in $BUILD" >&2; exit 1; }
DIR=$(mktemp -d)
trap 'rm -rf "$DIR"' EXIT
DB=$DIR/data.db

python3 - "$DB" <<'PY'
import random, sqlite3, sys
random.seed(7)
words = ['alpha', 'beta', 'gamma', 'delta', 'order', 'invoice', 'customer', 'x42', 'Zeta']
con = sqlite3.connect(sys.argv[1])
con.execute('CREATE TABLE t(s TEXT, d TEXT)')
def rows():
    for i in range(1000000):
        s = ' '.join(random.choice(words) for _ in range(3)) + ' %d' % random.randrange(100000)
        d = '%d%s.%012d' % (random.randrange(1, 10), ''.join(random.choice('0123456789') for _ in range(16)), random.randrange(10**12))
        yield (s, d)
with con:
    con.executemany('INSERT INTO t VALUES(?, ?)', rows())
con.close()
PY

cat > "$DIR/py.py" <<'PY'
import decimal, re, sqlite3, sys, time
kind, db, arg = sys.argv[1], sys.argv[2], sys.argv[3]
con = sqlite3.connect(db)
t0 = time.perf_counter()
if kind == 'regexp':
    cache = {}
    def regexp(p, s):
        r = cache.get(p)
        if r is None:
            r = cache[p] = re.compile(p)
        return s is not None and r.search(s) is not None
    con.create_function('regexp', 2, regexp, deterministic=True)
    n = con.execute('SELECT count(*) FROM t WHERE s REGEXP ?', (arg,)).fetchone()[0]
elif kind == 'pathological':
    n = int(arg)
    re.search('(a?){%d}a{%d}' % (n, n), 'a' * n)
else:
    decimal.getcontext().prec = 100
    n = sum((decimal.Decimal(d) for (d,) in con.execute('SELECT d FROM t')), decimal.Decimal(0))
print('%.3f %s' % (time.perf_counter() - t0, n))
PY

# best_of COMMAND...: the shortest wall-clock time of RUNS runs.
best_of() {
  local best=""
  for _ in $(seq "$RUNS"); do
    local t0 t1 t
    t0=$(date +%s.%N)
    "$@" >/dev/null
    t1=$(date +%s.%N)
    t=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
    if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
  done
  printf '%.3f' "$best"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

for pattern in 'gamma' '^order [a-z]+' '\bx42\b' '[0-9]{5}$' 'alpha|beta|zeta'; do
  ours=$(best_of "$SQLSH" "$DB" "SELECT count(*) FROM t WHERE s REGEXP '$pattern'")
  py=$(best_of python3 "$DIR/py.py" regexp "$DB" "$pattern")
  echo "regexp '$pattern' over 1,000,000 rows: sqlsh $ours s, Python re $py s, Python/sqlsh $(ratio "$py" "$ours") (target >= 3)"
done

for n in 16 20 24; do
  pat="(a?){$n}a{$n}"
  subject=$(printf 'a%.0s' $(seq "$n"))
  ours=$(best_of "$SQLSH" :memory: "SELECT regexp('$pat', '$subject')")
  py=$(best_of python3 "$DIR/py.py" pathological "$DB" "$n")
  echo "pathological $pat: sqlsh $ours s, Python re $py s"
done

ours=$(best_of "$SQLSH" "$DB" "SELECT decimal_sum(d) FROM t")
py=$(best_of python3 "$DIR/py.py" decimal "$DB" x)
echo "decimal_sum over 1,000,000 30-digit values: sqlsh $ours s, Python decimal $py s, Python/sqlsh $(ratio "$py" "$ours") (target > 1)"
