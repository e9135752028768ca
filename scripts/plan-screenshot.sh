#!/usr/bin/env bash
# Renders the plan window with a real plan for the README, docs/plan-window.png in Chinese
# and docs/plan-window-en.png in English: five generated prompts recorded into the simulated
# chip by the window's end-to-end test, then the window grabbed offscreen.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target test_plan_window_e2e >/dev/null
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
chmod 700 "$runtime"
for shot in zh_CN:docs/plan-window.png en:docs/plan-window-en.png; do
    env -u LC_ALL -u LC_MESSAGES LANGUAGE="${shot%%:*}" QT_QPA_PLATFORM=offscreen \
        QT_MEDIA_BACKEND=gstreamer XDG_RUNTIME_DIR=$runtime \
        TAMBERLO_PLAN_WINDOW_PNG="$PWD/${shot#*:}" \
        ./build/tests/test_plan_window_e2e screenshot >/dev/null 2>&1
    echo "wrote ${shot#*:}"
done
