#!/usr/bin/env bash
# Builds everything and runs every test twice: in a normal build (build/) and in a build with
# AddressSanitizer and UndefinedBehaviorSanitizer, leak checking on (build-asan/); builds the
# Release configuration (build-rel/) too, so that an optimiser's warning cannot slip in.  Every
# build treats warnings as errors.  Then checks that every C++ source is formatted.  Stops at
# the first failure with a non-zero exit code.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

ensure_packages

build_tree build -DSQLSH_WERROR=ON
say "testing build"
ctest --test-dir "$SQLSH_ROOT/build" --output-on-failure

build_tree build-asan -DSQLSH_WERROR=ON -DSQLSH_SANITIZE=ON
say "testing build-asan"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$SQLSH_ROOT/build-asan" --output-on-failure

build_tree build-rel -DSQLSH_WERROR=ON -DCMAKE_BUILD_TYPE=Release

say "checking the format of the C++ sources"
cd "$SQLSH_ROOT"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z -- '*.cpp' '*.h' | xargs -0 -r clang-format --dry-run -Werror
else
  find . -path ./build -prune -o -path ./build-asan -prune -o \
    \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 -r clang-format --dry-run -Werror
fi
say "all tests passed"
