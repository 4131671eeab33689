#!/usr/bin/env bash
# Makes the Debian armhf sysroot the cross build compiles, links and runs its
# tests against, without touching the build machine's own package set:
#   scripts/make-sysroot.sh [DIR]     (default build/sysroot-armhf)
# The packages of scripts/sysroot-armhf.packages and their dependencies are
# extracted by mmdebstrap from the mirror the machine's apt sources name, main
# suite only (the sysroot is self-consistent without the security suite). A
# stamp holding the hash of the list and of this script keeps a sysroot that
# is already up to date.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(realpath -m "${1:-$here/../build/sysroot-armhf}")"
suite="${TRM27K_SYSROOT_SUITE:-bookworm}"
list="$here/sysroot-armhf.packages"

stamp_of() { cat "$list" "$0" | sha256sum | cut -d' ' -f1; }
packages() { grep -v '^[[:space:]]*\(#\|$\)' "$list" | paste -sd, -; }

# The first archive URI whose suites include `suite`, from deb822 .sources
# files or one-line sources.list entries.
mirror_of() {
  local files=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources)
  local f
  for f in "${files[@]}"; do
    [[ -r "$f" ]] || continue
    awk -v suite="$suite" '
      /^[[:space:]]*deb[[:space:]]/ {                  # one-line format
        i = 2; if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
        if ($(i + 1) == suite) { print $i; exit }
      }
      /^URIs:/   { uri = $2 }
      /^Suites:/ { for (k = 2; k <= NF; k++) if ($k == suite) hit = 1 }
      /^[[:space:]]*$/ { if (hit && uri != "") { print uri; exit } uri = ""; hit = 0 }
      END { if (hit && uri != "") print uri }
    ' "$f"
  done | head -n1
}

# Absolute symbolic links would point into the build machine's own /usr; make
# each one relative, so the linker and qemu-arm -L stay inside the sysroot.
relative_links() {
  local link target
  while IFS= read -r -d '' link; do
    target="$(readlink "$link")"
    [[ "$target" == /* ]] || continue
    ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$root$target")" "$link"
  done < <(find "$root" -type l -print0)
}

want="$(stamp_of)"
if [[ -f "$root/.trm27k-stamp" && "$(cat "$root/.trm27k-stamp")" == "$want" ]]; then
  exit 0
fi
mirror="$(mirror_of)"
if [[ -z "$mirror" ]]; then
  echo "make-sysroot: no apt source for suite '$suite' on this machine" >&2
  exit 1
fi
echo "make-sysroot: extracting armhf $suite from $mirror into $root"
rm -rf "$root.new"
mkdir -p "$(dirname "$root")"
mmdebstrap --quiet --variant=extract --arch=armhf --include="$(packages)" \
  "$suite" "$root.new" "deb $mirror $suite main"
# Only files to build against stay: qemu-arm -L looks up every path in the
# sysroot first, so its device nodes (a /dev/ptmx of another devpts) and the
# machine files mmdebstrap writes under /etc would shadow the real ones.
find "$root.new" -mindepth 1 -maxdepth 1 ! -name usr ! -name lib ! -name etc -exec rm -rf {} +
find "$root.new/etc" -mindepth 1 -maxdepth 1 ! -name 'ld.so.conf*' -exec rm -rf {} +
rm -rf "$root"
mv "$root.new" "$root"
relative_links
echo "$want" > "$root/.trm27k-stamp"
echo "make-sysroot: $(du -sh "$root" | cut -f1) in $root"
