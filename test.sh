#!/usr/bin/env bash
# Installs what is missing, builds the dev preset and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")"
packaging/install-deps.sh
cmake --preset dev
cmake --build --preset dev
ctest --preset dev
