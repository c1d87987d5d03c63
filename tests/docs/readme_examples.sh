#!/usr/bin/env bash
# Runs the examples of the README and compares what they print with the output written under
# them, so that the README cannot go stale.
#
#   readme_examples.sh README SQLSH
#
# An example is a fenced block whose info string is "sh example"; the fenced block right after
# it (blank lines between are allowed) with the info string "text" is what it prints, standard
# output and standard error together (no such block: it prints nothing).  The examples run in
# order, each as its own bash script, in one scratch directory that they share (a later example
# may use the files of an earlier one), with `sqlsh` on the PATH and HOME an empty directory.
# Every example must end with status 0 (one that shows a failure echoes its status).
set -uo pipefail
# A locale that every Debian system has: another that is missing makes bash warn.
export LC_ALL=C.UTF-8

readme=${1:?usage: readme_examples.sh README SQLSH}
sqlsh=${2:?usage: readme_examples.sh README SQLSH}
[[ -r $readme ]] || { echo "cannot read $readme" >&2; exit 2; }
[[ -x $sqlsh ]] || { echo "not an executable: $sqlsh" >&2; exit 2; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/readme-examples.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/bin" "$scratch/home" "$scratch/work"
ln -s "$(cd "$(dirname "$sqlsh")" && pwd)/$(basename "$sqlsh")" "$scratch/bin/sqlsh"

# The examples: their code, expected output and first line in the README.
declare -a codes=() outputs=() lines=()
state=outside  # outside | code | between | output
nLine=0
while IFS= read -r line || [[ -n $line ]]; do
  nLine=$((nLine + 1))
  case $state in
    outside | between)
      if [[ $line == '```sh example' ]]; then
        codes+=("")
        outputs+=("")
        lines+=("$((nLine + 1))")
        state=code
      elif [[ $state == between && $line == '```text' ]]; then
        state=output
      elif [[ $state == between && -n ${line//[[:space:]]/} ]]; then
        state=outside
      fi
      ;;
    code)
      if [[ $line == '```' ]]; then
        state=between
      else
        codes[-1]+="$line"$'\n'
      fi
      ;;
    output)
      if [[ $line == '```' ]]; then
        state=outside
      else
        outputs[-1]+="$line"$'\n'
      fi
      ;;
  esac
done <"$readme"
if [[ $state == code || $state == output ]]; then
  echo "$readme: a fenced block opened before line $nLine is not closed" >&2
  exit 1
fi

if ((${#codes[@]} == 0)); then
  echo "$readme: no '\`\`\`sh example' block found" >&2
  exit 1
fi

nPassed=0
nFailed=0
for i in "${!codes[@]}"; do
  actual="$scratch/actual.$i"
  expected="$scratch/expected.$i"
  printf '%s' "${outputs[i]}" >"$expected"
  (
    cd "$scratch/work" &&
      env -u SQLSH_HISTORY -u SQLSH_PAGER -u PAGER PATH="$scratch/bin:$PATH" HOME="$scratch/home" \
        timeout 20 bash --noprofile --norc -o pipefail -c "${codes[i]}"
  ) >"$actual" 2>&1 </dev/null
  status=$?
  if ((status != 0)); then
    echo "FAILED: the example at $readme:${lines[i]} ended with status $status" >&2
    nFailed=$((nFailed + 1))
  elif ! cmp -s "$expected" "$actual"; then
    echo "FAILED: the example at $readme:${lines[i]} printed (+) other than the README (-):" >&2
    diff -u --label README --label actual "$expected" "$actual" >&2
    nFailed=$((nFailed + 1))
  else
    nPassed=$((nPassed + 1))
  fi
done
echo "README examples: $nPassed passed, $nFailed failed"
((nFailed == 0))
