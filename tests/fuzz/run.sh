#!/bin/sh
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   tests/fuzz/run.sh [SECONDS [TARGET...]]   (default 60 per target, every target)
# Needs clang and its runtime (Debian: clang, libclang-rt-dev).  Findings are
# written to build-fuzz/<target>/ as crash-* files; replay one with
#   build-fuzz/bin/fuzz_import build-fuzz/fuzz_import/crash-...
set -eu
cd "$(dirname "$0")/../.."
SECONDS_PER_TARGET=${1:-60}
[ $# -gt 0 ] && shift
ONLY="$*"
OUT=build-fuzz
mkdir -p "$OUT/bin"
SQLITE_FLAGS=-lsqlite3  # Debian's libsqlite3-dev: header and library in the default paths
FLAGS="-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I."

# fuzz_import: the field readers, the JSON element reader and the column-name collector.
clang++ $FLAGS -o "$OUT/bin/fuzz_import" tests/fuzz/fuzz_import.cpp \
  shell/commands/ImportReader.cpp shell/commands/ImportColumns.cpp shell/commands/ImportJson.cpp \
  shell/core/ShellContext.cpp shell/core/ArgParsers.cpp $SQLITE_FLAGS

# fuzz_decimal: every decimal function and the collations on arbitrary text.
clang++ $FLAGS -o "$OUT/bin/fuzz_decimal" tests/fuzz/fuzz_decimal.cpp ext/decimal/Decimal.cpp \
  $SQLITE_FLAGS

# fuzz_regexp: the pattern compiler and the matcher.
clang++ $FLAGS -o "$OUT/bin/fuzz_regexp" tests/fuzz/fuzz_regexp.cpp ext/regexp/Regexp.cpp $SQLITE_FLAGS

# The targets that drive the whole shell link one archive of its code, built
# once with the fuzzer's instrumentation.
SHELL_OBJ="$OUT/shell-obj"
mkdir -p "$SHELL_OBJ"
SHELL_FLAGS="-std=c++20 -g -O1 -fsanitize=fuzzer-no-link,address,undefined \
  -fno-sanitize-recover=undefined -I."
for src in shell/core/*.cpp shell/exec/*.cpp shell/commands/*.cpp shell/app/*.cpp \
  ext/*/*.cpp advisor/*.cpp; do
  obj="$SHELL_OBJ/$(echo "$src" | tr / _).o"
  if [ ! -e "$obj" ] || [ "$src" -nt "$obj" ] ||
    [ -n "$(find shell ext advisor -name '*.h' -newer "$obj" | head -n 1)" ]; then
    clang++ $SHELL_FLAGS -c -o "$obj" "$src" &
    # two compilers at a time at most
    [ "$(jobs -p | wc -l)" -lt 2 ] || wait -n
  fi
done
wait
rm -f "$OUT/libshell_fuzz.a"
ar rcs "$OUT/libshell_fuzz.a" "$SHELL_OBJ"/*.o
SHELL_LIBS="$OUT/libshell_fuzz.a -ledit -lutf8proc -lpthread -ldl $SQLITE_FLAGS"

# fuzz_lines: the line scanner, statement assembly and processInput.
# fuzz_dotargs: the dot-command tokenizer and the argument parsers.
# fuzz_hexdump: the hex-dump database reader and the image it gives.
# fuzz_literals: the value writers, read back by the engine and the import reader.
# fuzz_dbfile: .schema, .tables, .indexes, .dump and full scans on a damaged database.
SHELL_TARGETS="fuzz_lines fuzz_dotargs fuzz_hexdump fuzz_literals fuzz_dbfile"
for target in $SHELL_TARGETS; do
  clang++ $FLAGS -o "$OUT/bin/$target" "tests/fuzz/$target.cpp" $SHELL_LIBS
done

status=0
for target in fuzz_import fuzz_decimal fuzz_regexp $SHELL_TARGETS; do
  case " ${ONLY:-$target} " in *" $target "*) ;; *) continue ;; esac
  corpus="$OUT/$target/corpus"
  mkdir -p "$corpus"
  seeds="tests/fuzz/seeds/${target#fuzz_}"
  cd "$OUT/$target"
  # -close_fd_mask=2: the readers' warnings would flood the terminal (3 also
  # closes standard output, which the shell's commands write to).
  case $target in
    fuzz_import | fuzz_decimal | fuzz_regexp) mask=2 max_len=4096 ;;
    fuzz_dbfile) mask=3 max_len=20000 ;;
    *) mask=3 max_len=4096 ;;
  esac
  ../bin/"$target" -max_total_time="$SECONDS_PER_TARGET" -max_len=$max_len -timeout=10 \
    -rss_limit_mb=2048 -close_fd_mask=$mask corpus ../../"$seeds" ||
    { status=1; echo "$target: finding kept in $OUT/$target/"; }
  cd - >/dev/null
done
exit $status
