#!/usr/bin/env bash
# Builds the Linux connector and shows it at work.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset native-release >/dev/null
cmake --build --preset native-release --target connector >/dev/null
bin=build/native-release/src/app/tessaline-tally-connector
echo "\$ $bin --version"
"$bin" --version
echo
echo "Settings: \${XDG_CONFIG_HOME:-~/.config}/Tessaline/Tally Connector/connector.ini"
echo "Log:      \${XDG_STATE_HOME:-~/.local/state}/Tessaline/Tally Connector/logs/connector.log"
