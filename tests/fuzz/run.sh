#!/bin/sh
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   tests/fuzz/run.sh [SECONDS]        (default 60 per target)
# Needs clang and its runtime (Debian: clang, libclang-rt-dev).  Findings are
# written to build-fuzz/<target>/ as crash-* files; replay one with
#   build-fuzz/bin/fuzz_import build-fuzz/fuzz_import/crash-...
set -eu
cd "$(dirname "$0")/../.."
SECONDS_PER_TARGET=${1:-60}
OUT=build-fuzz
mkdir -p "$OUT/bin"
SQLITE_FLAGS=-lsqlite3  # Debian's libsqlite3-dev: header and library in the default paths
FLAGS="-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I."

# fuzz_import: the field readers and the column-name collector.
clang++ $FLAGS -o "$OUT/bin/fuzz_import" tests/fuzz/fuzz_import.cpp \
  shell/commands/ImportReader.cpp shell/commands/ImportColumns.cpp \
  shell/core/ShellContext.cpp shell/core/ArgParsers.cpp $SQLITE_FLAGS

# fuzz_decimal: every decimal function and the collations on arbitrary text.
clang++ $FLAGS -o "$OUT/bin/fuzz_decimal" tests/fuzz/fuzz_decimal.cpp ext/decimal/Decimal.cpp \
  $SQLITE_FLAGS

# fuzz_regexp: the pattern compiler and the matcher.
clang++ $FLAGS -o "$OUT/bin/fuzz_regexp" tests/fuzz/fuzz_regexp.cpp ext/regexp/Regexp.cpp $SQLITE_FLAGS

for target in fuzz_import fuzz_decimal fuzz_regexp; do
  corpus="$OUT/$target/corpus"
  mkdir -p "$corpus"
  seeds="tests/fuzz/seeds/${target#fuzz_}"
  cd "$OUT/$target"
  # -close_fd_mask=2: the readers' warnings would flood the terminal.
  ../bin/"$target" -max_total_time="$SECONDS_PER_TARGET" -max_len=4096 -timeout=10 \
    -rss_limit_mb=2048 -close_fd_mask=2 corpus ../../"$seeds"
  cd - >/dev/null
done
