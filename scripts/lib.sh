# Shared helpers of the scripts; sourced, not run.

SQLSH_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SQLSH_JOBS=${SQLSH_JOBS:-2}

say() { printf '==> %s\n' "$*" >&2; }

# Installs the packages of scripts/debian-packages.txt that are missing.  As root it uses
# apt-get; otherwise it names what to install and stops.
ensure_packages() {
  local list="$SQLSH_ROOT/scripts/debian-packages.txt" pkg
  local -a wanted=() missing=()
  while read -r pkg; do
    pkg=${pkg%%#*}
    pkg=${pkg//[[:space:]]/}
    [[ -n $pkg ]] && wanted+=("$pkg")
  done <"$list"
  if ! command -v dpkg-query >/dev/null 2>&1; then
    say "not a Debian system: make sure these (or their equivalents) are installed: ${wanted[*]}"
    return 0
  fi
  for pkg in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  ((${#missing[@]} == 0)) && return 0
  if [[ $(id -u) -ne 0 ]]; then
    say "missing Debian packages: ${missing[*]}"
    say "install them as root, then run this command again:"
    say "  sudo apt-get update && sudo apt-get install -y ${missing[*]}"
    exit 1
  fi
  say "installing missing Debian packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update >&2
  apt-get install -y --no-install-recommends "${missing[@]}" >&2
}

# Configures one build directory: configure_tree DIR [cmake options...]
configure_tree() {
  local dir=$1
  shift
  say "configuring $dir${*:+ $*}"
  cmake -S "$SQLSH_ROOT" -B "$SQLSH_ROOT/$dir" -G Ninja "$@" >&2
}

# Builds targets of a configured build directory (all of them when none is named):
# build_targets DIR [target...]
build_targets() {
  local dir=$1
  shift
  say "building $dir${*:+ ($*)}"
  local -a targets=()
  if (($# > 0)); then targets=(--target "$@"); fi
  cmake --build "$SQLSH_ROOT/$dir" -j"$SQLSH_JOBS" "${targets[@]}" >&2
}

# Configures and builds one build directory: build_tree DIR [cmake options...]
build_tree() {
  configure_tree "$@"
  build_targets "$1"
}
