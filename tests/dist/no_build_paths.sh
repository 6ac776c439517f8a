#!/usr/bin/env bash
# Fails, naming each file, when a built file names a folder it was built in
# or from: the tree, or one of the FOLDERs given.
#
#   no_build_paths.sh "FOLDER..." FILE_OR_DIR...
#
# A folder inside the tree is looked for by its path relative to the tree
# too: the compilers strip the tree's own prefix from the paths they record
# (-ffile-prefix-map, -fdebug-prefix-map), which leaves such a folder as
# "build/...", and a search for the absolute path alone would miss it.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
[ $# -ge 2 ] || { echo "usage: no_build_paths.sh \"FOLDER...\" FILE_OR_DIR..." >&2; exit 2; }
read -r -a folders <<<"$1"
shift
for path in "$@"; do
  [ -e "$path" ] || { echo "FAIL: no $path to look into" >&2; exit 1; }
done

names=("$root")
for folder in "${folders[@]}"; do
  names+=("$folder")
  case "$folder" in "$root"/?*) names+=("${folder#"$root"/}") ;; esac
done

status=0
for name in "${names[@]}"; do
  # -a: the files are ELF and PE images, not text.
  found=$(grep -rlaF -e "$name" "$@" || true)
  if [ -n "$found" ]; then
    echo "FAIL: these files name the folder $name:" >&2
    sed 's/^/  /' <<<"$found" >&2
    status=1
  fi
done
exit $status
