#!/usr/bin/env bash
# Renders the panel's window offscreen into docs/window.png for the README.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target tamberlo-screenshot >/dev/null
QT_QPA_PLATFORM=offscreen ./build/bin/tamberlo-screenshot docs/window.png
echo "wrote docs/window.png"
