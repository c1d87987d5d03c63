#!/usr/bin/env bash
# Fails when a source includes a header from a layer above its own.  The layers, bottom up:
#   ext/<name>/, advisor/   the engine's header and the standard library only (and their own folder)
#   shell/core/             core
#   shell/exec/             core, exec (and the extensions' and advisor's headers)
#   shell/commands/         core, exec, commands (and the extensions' and advisor's headers)
#   shell/app/              anything of the shell
# Usage: layering_check.sh [ROOT]   (ROOT defaults to the repository holding this script)
set -euo pipefail
root=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
cd "$root"

allowed() {  # allowed FILE -> the include prefixes FILE may use, one per line
  case $1 in
    ext/*) echo "${1%/*}/" ;;
    advisor/*) echo "advisor/" ;;
    shell/core/*) printf '%s\n' shell/core/ ext/ ;;
    shell/exec/*) printf '%s\n' shell/core/ shell/exec/ ext/ advisor/ ;;
    shell/commands/*) printf '%s\n' shell/core/ shell/exec/ shell/commands/ ext/ advisor/ ;;
    shell/app/* | shell/main.cpp) printf '%s\n' shell/ ext/ advisor/ ;;
  esac
}

status=0
while IFS= read -r -d '' file; do
  mapfile -t prefixes < <(allowed "$file")
  while IFS= read -r line; do
    header=${line#*\"}
    header=${header%%\"*}
    ok=0
    for prefix in "${prefixes[@]}"; do
      [[ $header == "$prefix"* ]] && ok=1
    done
    # A header of the file's own folder may be named without its path.
    [[ $header != */* && -f "${file%/*}/$header" ]] && ok=1
    if ((ok == 0)); then
      echo "$file: includes \"$header\", which is above its layer"
      status=1
    fi
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done < <(find shell ext advisor -type f \( -name '*.cpp' -o -name '*.h' \) -print0 2>/dev/null)

if ((status == 0)); then echo "layering: every include goes down"; fi
exit $status
