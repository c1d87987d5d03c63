#!/usr/bin/env bash
# Builds everything and runs every test twice: in a normal build (build/) and in a build with
# AddressSanitizer and UndefinedBehaviorSanitizer, leak checking on (build-asan/); builds the
# shipped programs, libraries and benchmarks in the Release configuration too (build-rel/), so
# that a warning only -O3 sees cannot slip in.  Every build treats warnings as errors.  Checks
# first that every C++ source is formatted.  Stops at the first failure with a non-zero exit
# code, and ends with how long the builds and the tests took.
#
# SQLSH_JOBS=N sets the parallel build jobs and the tests run at once (2 by default).
#
# The test builds compile for testing: line tables only (-g1, enough for any report), the
# unit tests in combined units, no benchmarks (the Release build has them).  Tests run in
# parallel; each makes its own scratch directory, so none depends on running alone.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

ensure_packages

nBuildSeconds=0
nTestSeconds=0

# timed build|test COMMAND...: runs COMMAND and adds its duration to the build or test total.
timed() {
  local kind=$1 start=$SECONDS
  shift
  "$@"
  local elapsed=$((SECONDS - start))
  if [[ $kind == build ]]; then
    nBuildSeconds=$((nBuildSeconds + elapsed))
  else
    nTestSeconds=$((nTestSeconds + elapsed))
  fi
  say "$kind step took ${elapsed} s"
}

run_tests() {  # run_tests DIR
  say "testing $1"
  ctest --test-dir "$SQLSH_ROOT/$1" --output-on-failure -j"$SQLSH_JOBS"
}

run_sanitized_tests() {  # run_sanitized_tests DIR
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_tests "$1"
}

check_format() {
  say "checking the format of the C++ sources"
  cd "$SQLSH_ROOT"
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z -- '*.cpp' '*.h' | xargs -0 -r clang-format --dry-run -Werror
  else
    find . -path './build*' -prune -o \( -name '*.cpp' -o -name '*.h' \) -print0 |
      xargs -0 -r clang-format --dry-run -Werror
  fi
}

readonly testBuild=(-DSQLSH_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" -DSQLSH_UNITY_BUILD=ON
  -DSQLSH_BUILD_TESTS=ON -DSQLSH_BUILD_BENCH=OFF)

timed test check_format

timed build build_tree build "${testBuild[@]}" -DSQLSH_SANITIZE=OFF
timed test run_tests build

timed build build_tree build-asan "${testBuild[@]}" -DSQLSH_SANITIZE=ON
timed test run_sanitized_tests build-asan

timed build build_tree build-rel -DSQLSH_WERROR=ON -DCMAKE_BUILD_TYPE=Release \
  -DSQLSH_BUILD_TESTS=OFF -DSQLSH_BUILD_BENCH=ON -DSQLSH_SANITIZE=OFF

say "all tests passed (builds ${nBuildSeconds} s, tests and checks ${nTestSeconds} s)"
