#!/bin/sh
# Runs the panel page's browser test: installs playwright-core from the lock
# file into the build folder, then drives `qzhost panel` in headless Chromium.
# Usage: run.sh QZHOST MODULE WORK_FOLDER
set -eu
qzhost=$1 module=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
cp "$here/package.json" "$here/package-lock.json" "$work/"
(cd "$work" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
exec node "$here/panel.test.mjs" "$qzhost" "$module" "$work"
