#!/usr/bin/env bash
# Renders the panel's window offscreen for the README: docs/window.png in Chinese,
# docs/window-en.png in English.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target tamberlo-screenshot >/dev/null
for shot in zh_CN:docs/window.png en:docs/window-en.png; do
    env -u LC_ALL -u LC_MESSAGES LANGUAGE="${shot%%:*}" QT_QPA_PLATFORM=offscreen \
        ./build/bin/tamberlo-screenshot "${shot#*:}"
    echo "wrote ${shot#*:}"
done
