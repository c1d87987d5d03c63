#!/usr/bin/env bash
# Checks the manual pages: each renders without a single warning from man and from groff, at
# the terminal's width and at 80 columns; sqlsh(1) documents every option that `sqlsh -help`
# lists and every dot-command of the help tables; the pages name the project's version.
#
#   man_check.sh SOURCE_DIR SQLSH VERSION
set -uo pipefail
# The same rendering whatever the caller's settings: a locale that every Debian system has
# (another that is missing makes man warn), and none of man's own option variables.
export LC_ALL=C.UTF-8
unset MANOPT MANROFFOPT MANWIDTH MANSECT

root=${1:?usage: man_check.sh SOURCE_DIR SQLSH VERSION}
sqlsh=${2:?usage: man_check.sh SOURCE_DIR SQLSH VERSION}
version=${3:?usage: man_check.sh SOURCE_DIR SQLSH VERSION}
pages=("$root/doc/man/sqlsh.1" "$root/doc/man/banka.1")
sqlshPage=${pages[0]}

for tool in man groff; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "$tool is not installed (scripts/debian-packages.txt lists it: man-db, groff-base)" >&2
    exit 1
  fi
done

nFailed=0
fail() {
  echo "FAILED: $*" >&2
  nFailed=$((nFailed + 1))
}

# Every line of a check's output is a warning.
for page in "${pages[@]}"; do
  name=$(basename "$page")
  out=$(man --warnings -l "$page" 2>&1 >/dev/null)
  [[ -z $out ]] || fail "man --warnings -l $name:"$'\n'"$out"
  out=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [[ -z $out ]] || fail "MANWIDTH=80 man --warnings -l $name:"$'\n'"$out"
  out=$(groff -man -ww -z "$page" 2>&1)
  [[ -z $out ]] || fail "groff -man -ww -z $name:"$'\n'"$out"
  if ! grep -q "^\.TH [A-Z]* 1 [0-9-]* \"sqlsh $version\"" "$page"; then
    fail "$name: its .TH line does not name sqlsh $version"
  fi
done

# The options: "   -name ARG  text" lines of -help; -[no]header stands for two.
mapfile -t options < <("$sqlsh" -help 2>&1 | sed -n 's/^   \(-[^ ]*\).*/\1/p')
((${#options[@]} > 30)) || fail "sqlsh -help listed only ${#options[@]} options"
for option in "${options[@]}"; do
  if [[ $option == '-[no]header' ]]; then
    expanded=(-header -noheader)
  else
    expanded=("$option")
  fi
  for word in "${expanded[@]}"; do
    # A tag line of the OPTIONS section: .B \-name, .BI "\-name ARG" or .BR \-a ", " \-b.
    pattern="^\\.B[IR]? (.* )?\\\\$word( |\$)"
    grep -Eq -- "$pattern" "$sqlshPage" || fail "sqlsh.1 does not document the option $word"
  done
done

# The dot-commands of both help tables (the terminal's is printed at a terminal only).
mapfile -t commands < <(sed -n 's/^ *"\.\([a-z0-9]*\).*/\1/p' "$root/shell/commands/HelpLines.cpp")
((${#commands[@]} > 50)) || fail "the help tables gave only ${#commands[@]} commands"
for command in "${commands[@]}"; do
  grep -q "^\.B \\\\&\.$command\( \|$\)" "$sqlshPage" ||
    fail "sqlsh.1 has no entry \".B \\&.$command\" for the dot-command .$command"
done

echo "manual pages: $((${#pages[@]} * 4 + ${#options[@]} + ${#commands[@]} - nFailed)) passed, $nFailed failed"
((nFailed == 0))
