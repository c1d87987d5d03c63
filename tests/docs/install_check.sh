#!/usr/bin/env bash
# shellcheck disable=SC2015 # in "check && pass || fail", pass cannot fail
# Installs a build into a scratch prefix with `cmake --install` and checks what a user gets
# beside the programs: the manual pages, compressed as Debian wants them (gzip -9n: no name,
# no time stamp) and unchanged inside; the bash completion; the README, copyright and
# changelog.
#
#   install_check.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
# The same rendering whatever the caller's settings: a locale that every Debian system has
# (another that is missing makes man warn), and none of man's own option variables.
export LC_ALL=C.UTF-8
unset MANOPT MANROFFOPT MANWIDTH MANSECT

build=${1:?usage: install_check.sh BUILD_DIR SOURCE_DIR}
root=${2:?usage: install_check.sh BUILD_DIR SOURCE_DIR}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/install-check.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/usr

if ! cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
  echo "FAILED: cmake --install $build" >&2
  cat "$scratch/install.log" >&2
  exit 1
fi

nPassed=0
nFailed=0
fail() {
  echo "FAILED: $*" >&2
  nFailed=$((nFailed + 1))
}
pass() { nPassed=$((nPassed + 1)); }

for program in sqlsh banka; do
  [[ -x $prefix/bin/$program ]] && pass || fail "bin/$program is not installed"
done

for page in sqlsh banka; do
  gz=$prefix/share/man/man1/$page.1.gz
  if [[ ! -f $gz ]]; then
    fail "share/man/man1/$page.1.gz is not installed"
    continue
  fi
  # The gzip header: magic, deflate, no flags (so no file name), a zero time stamp, and the
  # "slowest compression" mark of -9.
  header=$(od -An -tx1 -N10 "$gz" | tr -d ' \n')
  [[ $header == 1f8b08000000000002* ]] && pass ||
    fail "$page.1.gz is not compressed with gzip -9n (header $header)"
  if gzip -dc "$gz" | cmp -s - "$root/doc/man/$page.1"; then pass; else
    fail "$page.1.gz does not hold doc/man/$page.1"
  fi
  out=$(man --warnings -l "$gz" 2>&1 >/dev/null)
  [[ -z $out ]] && pass || fail "man --warnings -l $page.1.gz:"$'\n'"$out"
done

completion=$prefix/share/bash-completion/completions/sqlsh
if [[ -f $completion ]] && cmp -s "$completion" "$root/doc/bash-completion/sqlsh"; then pass; else
  fail "share/bash-completion/completions/sqlsh is not the completion of doc/bash-completion"
fi

docs=$prefix/share/doc/sqlsh
for file in README.md copyright changelog.gz; do
  [[ -f $docs/$file ]] && pass || fail "share/doc/sqlsh/$file is not installed"
done
if [[ -f $docs/changelog.gz ]]; then
  gzip -dc "$docs/changelog.gz" | head -1 | grep -q '^sqlsh (' && pass ||
    fail "changelog.gz does not begin with the sqlsh entry"
fi

echo "installed files: $nPassed passed, $nFailed failed"
((nFailed == 0))
