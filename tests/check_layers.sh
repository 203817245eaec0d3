#!/bin/sh
# Checks that each folder includes headers only of its own layer and of the
# layers it uses, so that no two folders depend on each other.
# Usage: check_layers.sh [--partial] ROOT PREFIX NAME:USED,USED ...
# PREFIX is how includes name the layers' folders ("qzhost/" for the host,
# "" for the module). Unless --partial, every folder of ROOT with code must
# be a layer.
partial=0 failed=0 folders=""
[ "$1" = --partial ] && { partial=1; shift; }
root=$1 prefix=$2
shift 2
for layer in "$@"; do
    name=${layer%%:*}
    allowed=" $name $(echo "${layer#*:}" | tr ',' ' ') "
    folders="$folders $name"
    for file in "$root/$name"/*.h "$root/$name"/*.cpp; do
        [ -e "$file" ] || continue
        for used in $(sed -n "s|^#include \"$prefix\([a-z_]*\)/.*|\1|p" "$file" | sort -u); do
            case "$allowed" in *" $used "*) continue ;; esac
            echo "FAIL: ${file#"$root"/} includes a header of '$used', which layer '$name' does not use"
            failed=1
        done
    done
done
[ $partial = 1 ] && exit $failed
for folder in "$root"/*/; do
    name=$(basename "$folder")
    case " $folders " in *" $name "*) continue ;; esac
    ls "$folder" | grep -q '\.\(h\|cpp\)$' && { echo "FAIL: $prefix$name is no layer"; failed=1; }
done
exit $failed
