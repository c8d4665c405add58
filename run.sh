#!/usr/bin/env bash
# Installs what is missing, builds, and starts the application.
set -euo pipefail
cd "$(dirname "$0")"
packaging/install-deps.sh
cmake --preset release
cmake --build --preset release
config=${1:-examples/demo.tgv}
echo "The desktop application is not part of this build yet."
echo "When it is, this command registers opcsim and starts opctagvista on $config."
echo "Until then: build/release/tools/tgvtool (check, resave, dump) and the test suite (./test.sh)."
