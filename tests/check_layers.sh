#!/bin/sh
# Checks that each folder of the host includes headers only of its own
# layer and of the layers it uses, as qzhost/CMakeLists.txt declares them.
# Usage: check_layers.sh QZHOST_FOLDER NAME:USED,USED ...
root=$1
shift
failed=0
folders=""
for layer in "$@"; do
    name=${layer%%:*}
    allowed=" $name $(echo "${layer#*:}" | tr ',' ' ') "
    folders="$folders $name"
    for file in "$root/$name"/*.h "$root/$name"/*.cpp; do
        [ -e "$file" ] || continue
        for used in $(sed -n 's|^#include "qzhost/\([a-z_]*\)/.*|\1|p' "$file" | sort -u); do
            case "$allowed" in
                *" $used "*) ;;
                *) echo "FAIL: ${file#"$root"/} includes a header of '$used', which layer '$name' does not use"; failed=1 ;;
            esac
        done
    done
done
# Every folder with code is a layer.
for folder in "$root"/*/; do
    name=$(basename "$folder")
    case " $folders " in
        *" $name "*) ;;
        *) ls "$folder" | grep -q '\.\(h\|cpp\)$' && { echo "FAIL: qzhost/$name is no layer"; failed=1; } ;;
    esac
done
exit $failed
