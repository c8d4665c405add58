#!/usr/bin/env bash
# Installs what is missing, builds the release preset's programs, registers the simulation
# server opcsim and starts opctagvista on examples/demo.tgv or the configuration given.
#   ./run.sh [FILE.tgv]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if (($# > 0)); then
    # A path given relative to where run.sh was called from.
    config=$(realpath -- "$1")
else
    config="$here/examples/demo.tgv"
fi
if [[ ! -f "$config" ]]; then
    echo "run.sh: no configuration file '${1:-$config}'" >&2
    exit 1
fi
cd "$here"
packaging/install-deps.sh
cmake --preset release
cmake --build --preset release --target opctagvista opcsim
build/release/tools/opcsim/opcsim -RegServer
exec build/release/src/app/opctagvista "$config"
