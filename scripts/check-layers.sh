#!/usr/bin/env bash
# One way down: fails, naming each offending line, when a folder includes a project header from a
# folder it may not use. Project headers are included by their path from the top of the tree
# ("base/fatal.h", "viewer/model/shape.h"), so the include lines say it all; a path that climbs
# ("../") is refused everywhere. Given a build folder as well, the links are checked the same way:
# an object may need only symbols that objects of its own folder or of a folder it may use define
# (a function declared low but defined high climbs without any include saying so).
# Usage: scripts/check-layers.sh [tree [build]]  (default: this checkout, no link check)
set -uo pipefail
build=${2:-}
[ -z "$build" ] || build=$(cd "$build" && pwd) || exit 2
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

# The rule folder a source path lies in (the longest that holds it), or nothing.
folder_of() {
  local best= rule folder
  for rule in "${rules[@]}"; do
    folder=${rule%%:*}
    case $1 in "$folder"/*) [ ${#folder} -gt ${#best} ] && best=$folder ;; esac
  done
  [ -n "$best" ] && echo "$best"
}
if [ -n "$build" ]; then
  # CMake writes the object of <dir>/<path> as <build>/<dir>/CMakeFiles/<target>.dir/<path>.o.
  # Each external symbol becomes a line "folder object D|U symbol".
  symbols=$(
    find "$build" -name '*.o' -path '*/CMakeFiles/*.dir/*' | sort | while IFS= read -r object; do
      rel=${object#"$build"/}
      dir=${rel%%CMakeFiles/*}
      source=$dir${rel#*/CMakeFiles/*.dir/}
      folder=$(folder_of "${source%.o}") || continue
      nm -P -g "$object" 2>/dev/null |
        awk -v f="$folder" -v o="${source%.o}" '{ print f, o, ($2 == "U" ? "U" : "D"), $1 }'
    done
  )
  if ! printf '%s\n' "$symbols" | awk -v rules="${rules[*]}" '
    BEGIN {
      n = split(rules, r, " ")
      for (i = 1; i <= n; ++i) {
        if (r[i] ~ /:/) { split(r[i], kv, ":"); f = kv[1]; allowed[f, f] = 1; if (kv[2] != "") allowed[f, kv[2]] = 1 }
        else allowed[f, r[i]] = 1
      }
    }
    NF == 4 && $3 == "D" { if (index(" " def[$4] " ", " " $1 " ") == 0) def[$4] = def[$4] " " $1 }
    NF == 4 && $3 == "U" { need[++needs] = $0 }
    END {
      bad = 0
      for (i = 1; i <= needs; ++i) {
        split(need[i], w, " ")
        if (!(w[4] in def)) continue # the system'"'"'s or a library'"'"'s
        m = split(substr(def[w[4]], 2), at, " ")
        ok = 0
        for (j = 1; j <= m; ++j) if ((w[1], at[j]) in allowed) ok = 1
        if (!ok) { printf "%s: needs %s, defined in %s/ above it\n", w[2], w[4], at[1]; bad = 1 }
      }
      exit bad
    }' | c++filt >&2; then
    status=1
  fi
fi
exit $status
