#!/usr/bin/env bash
# One way down: fails, naming each offending line, when a folder includes a project header from a
# folder it may not use. Project headers are included by their path from the top of the tree
# ("base/fatal.h", "viewer/model/shape.h"), so the include lines say it all; a path that climbs
# ("../") is refused everywhere. Usage: scripts/check-layers.sh [tree]  (default: this checkout)
set -uo pipefail
cd "${1:-$(dirname "$0")/..}"

# folder: the folders it may include besides its own (any folder may include itself).
rules=(
  "base:"
  "formats:base"
  "tools:base"
  "viewer/model:base"
  "viewer/graphics:viewer/model base"
  "viewer/readers:viewer/model formats base"
  "viewer/aoff:viewer/readers viewer/model formats base"
  "viewer/shell:viewer/aoff viewer/readers viewer/graphics viewer/model formats base"
  "viewer/glut:viewer/shell viewer/graphics viewer/model base"
)

status=0
for rule in "${rules[@]}"; do
  folder=${rule%%:*}
  allowed="$folder ${rule#*:}"
  [ -d "$folder" ] || continue
  while IFS= read -r line; do
    [[ ${line#*:*:} =~ include[[:space:]]*\"([^\"]*)\" ]] || continue
    target=${BASH_REMATCH[1]}
    case $target in
    base/* | formats/* | tools/* | viewer/* | ../* | */../*) ;;
    *) continue ;; # a header of the folder itself, or of the system
    esac
    ok=0
    for a in $allowed; do
      case $target in "$a"/*) [[ $target != *../* ]] && ok=1 ;; esac
    done
    if [ $ok = 0 ]; then
      echo "$line: $folder/ may include only ${allowed// //, }/" >&2
      status=1
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' --include='*.h' --include='*.cpp' --include='*.c' "$folder")
done
# Sources of the viewer sit in its subsystem folders, none beside them.
for file in viewer/*.cpp viewer/*.h; do
  [ -e "$file" ] || continue
  echo "$file: the viewer's sources belong in one of its subsystem folders" >&2
  status=1
done
# Every folder with sources is under a rule.
for dir in base formats tools viewer/*/; do
  dir=${dir%/}
  [ -d "$dir" ] || continue
  [ "$dir" = viewer ] && continue
  covered=0
  for rule in "${rules[@]}"; do [ "${rule%%:*}" = "$dir" ] && covered=1; done
  if [ $covered = 0 ]; then
    echo "$dir/: no layer rule in scripts/check-layers.sh" >&2
    status=1
  fi
done
exit $status
