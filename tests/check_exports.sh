#!/bin/sh
# The module file is named vorlux.p and exports exactly one dynamic symbol.
set -eu
module=$1
[ "$(basename "$module")" = vorlux.p ] || { echo "module file is named $(basename "$module")"; exit 1; }
symbols=$(nm -D --defined-only "$module" | awk '{print $NF}')
[ "$symbols" = _mod_descrip ] || { printf 'expected only _mod_descrip, the module exports:\n%s\n' "$symbols"; exit 1; }
