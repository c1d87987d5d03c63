#!/usr/bin/env bash
# Tests the bash completion of sqlsh: sources it, calls its function as bash would (COMP_WORDS,
# COMP_CWORD) and compares COMPREPLY with a table of cases; then checks that its word lists
# match what the program itself lists (the options of -help, the commands of the help tables,
# the output modes of .help mode), so that a new option or command cannot be missed.
#
#   completion_test.sh SOURCE_DIR SQLSH
set -uo pipefail
# A locale that every Debian system has: another that is missing makes bash warn.
export LC_ALL=C.UTF-8

root=${1:?usage: completion_test.sh SOURCE_DIR SQLSH}
sqlsh=${2:?usage: completion_test.sh SOURCE_DIR SQLSH}
root=$(cd "$root" && pwd) || exit 2
sqlsh=$(cd "$(dirname "$sqlsh")" && pwd)/$(basename "$sqlsh")
script=$root/doc/bash-completion/sqlsh

scratch=$(mktemp -d "${TMPDIR:-/tmp}/completion-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 2
touch shop.db shipments.db init.sql items.csv
mkdir scripts

# shellcheck source=/dev/null
source "$script" || exit 1
complete -p sqlsh >/dev/null || { echo "FAILED: $script registers no completion" >&2; exit 1; }

nPassed=0
nFailed=0
fail() {
  echo "FAILED: $*" >&2
  nFailed=$((nFailed + 1))
}

# check_words 'EXPECTED, sorted, one blank between' WORD... (the last one being completed)
check_words() {
  local expected=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _sqlsh sqlsh "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  local actual
  actual=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd' ')
  if [[ $actual == "$expected" ]]; then
    nPassed=$((nPassed + 1))
  else
    fail "completing '$COMP_LINE': expected [$expected], got [$actual]"
  fi
}

# check 'WORDS split at blanks (a final blank: an empty word is completed)' 'EXPECTED'
check() {
  local line=$1
  local -a words
  read -r -a words <<<"$line"
  [[ $line == *' ' ]] && words+=("")
  check_words "$2" "${words[@]}"
}

check 'sqlsh -h' '-header -help -html'
check 'sqlsh -no' '-nofollow -noheader -nonce'
check 'sqlsh --saf' '--safe'
check 'sqlsh -bogus' ''
check 'sqlsh -init ' 'init.sql items.csv scripts shipments.db shop.db'
check 'sqlsh -init i' 'init.sql items.csv'
check 'sqlsh --init sc' 'scripts'
check 'sqlsh -vfs unix-' 'unix-dotfile unix-excl unix-none'
check 'sqlsh -cmd .he' '.headers .help'
# A quoted word that is still open is one word for bash.
check_words "'.mode box'" sqlsh -cmd "'.mode b"
check_words "'.mode column' '.mode csv'" sqlsh -cmd "'.mode c"
check "sqlsh -cmd '.mo" "'.mode"
check 'sqlsh -separator ' ''
check 'sqlsh -lookaside 64 ' ''
check 'sqlsh -pagecache 4096 10 s' 'scripts shipments.db shop.db'
check 'sqlsh sh' 'shipments.db shop.db'
check 'sqlsh -bail -init init.sql sho' 'shop.db'
check 'sqlsh -readonly shop.db .ta' '.tables'
check 'sqlsh shop.db .dump sh' ''
check 'sqlsh -cmd .tables shop.db .sch' '.schema'

# The word lists against the program's own.
# same WHAT 'COMPLETION'S WORDS' 'THE PROGRAM'S WORDS' (each sorted, one blank between)
same() {
  if [[ -n $3 && $2 == "$3" ]]; then
    nPassed=$((nPassed + 1))
  else
    fail "the $1 differ:"$'\n'"  completion: $2"$'\n'"  program:    $3"
  fi
}
sorted() { LC_ALL=C sort -u | paste -sd' '; }
# shellcheck disable=SC2154 # the lists come from the completion script
{
  same "options of sqlsh -help" "$(printf '%s\n' "${_sqlsh_options[@]}" | sorted)" \
    "$("$sqlsh" -help 2>&1 | sed -n 's/^   \(-[^ ]*\).*/\1/p' |
      sed 's/^-\[no\]header$/-header\n-noheader/' | sorted)"
  same "dot-commands of the help tables" "$(printf '%s\n' "${_sqlsh_dot_commands[@]}" | sorted)" \
    "$(sed -n 's/^ *"\(\.[a-z0-9]*\).*/\1/p' "$root/shell/commands/HelpLines.cpp" | sorted)"
  same "modes of .help mode" "$(printf '%s\n' "${_sqlsh_modes[@]}" | sorted)" \
    "$("$sqlsh" -batch :memory: '.help mode' |
      sed -n '/MODE is one of:/,/OPTIONS/s/^     \([a-z]*\)  .*/\1/p' | sorted)"
  same "VFS names of .vfslist" "$(printf '%s\n' "${_sqlsh_vfs_names[@]}" | sorted)" \
    "$("$sqlsh" -batch :memory: .vfslist | sed -n 's/^vfs.zName *= "\(.*\)"$/\1/p' | sorted)"
}

echo "bash completion: $nPassed passed, $nFailed failed"
((nFailed == 0))
