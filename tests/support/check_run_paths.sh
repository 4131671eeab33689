#!/usr/bin/env bash
# Fails when a program or shared library of the build tree, or of an install
# from it, has an empty run-path entry or one relative to the current
# directory: either makes the loader take libraries from wherever the user
# happens to run the program.
#   check_run_paths.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf -- "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

bad=0
checked=0
check() {
  local file=$1 paths entry
  paths=$(readelf -d "$file" 2>/dev/null | sed -n 's/.*(\(RPATH\|RUNPATH\)).*\[\(.*\)\]/\2/p')
  checked=$((checked + 1))
  [[ -n $paths ]] || return 0
  # A leading, trailing or doubled ':' is an empty entry.
  if [[ $paths == :* || $paths == *: || $paths == *::* ]]; then
    echo "empty run-path entry in $file: [$paths]"; bad=1; return 0
  fi
  IFS=: read -ra entries <<<"$paths"
  for entry in "${entries[@]}"; do
    if [[ $entry != /* && $entry != '$ORIGIN'* ]]; then
      echo "run-path entry relative to the current directory in $file: $entry"; bad=1
    fi
  done
}

while IFS= read -r -d '' file; do
  if head -c 4 "$file" | grep -q $'\x7fELF'; then check "$file"; fi
done < <(find "$build" "$prefix" -path '*/CMakeFiles' -prune -o -type f \
           \( -perm -u+x -o -name '*.so*' \) -print0)
echo "$checked binaries checked"
[[ $checked -gt 0 ]] || { echo "no binaries found under $build"; exit 1; }
exit $bad
