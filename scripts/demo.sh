#!/usr/bin/env bash
# Builds the project and runs the banking demonstration in the repository root, creating the
# sample database Banka_autoincrement.db from demo/seed.sql when it does not exist.
# Build messages go to standard error; standard output carries only the demonstration.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

ensure_packages
configure_tree build
build_targets build banka banka_seed
cd "$SQLSH_ROOT"
if [[ ! -e Banka_autoincrement.db ]]; then
  say "creating Banka_autoincrement.db from demo/seed.sql"
  build/demo/banka_seed Banka_autoincrement.db demo/seed.sql
fi
say "running banka"
exec build/demo/banka
