#!/usr/bin/env bash
# Makes the Debian armhf sysroot the cross build compiles, links and runs its
# tests against, without touching the build machine's own package set:
#   scripts/make-sysroot.sh [DIR]     (default build/sysroot-armhf)
# The packages of scripts/sysroot-armhf.packages and their dependencies are
# extracted by mmdebstrap from the mirror the machine's apt sources name, main
# suite only (the sysroot is self-consistent without the security suite).
# Beside the files the sysroot keeps a dpkg database of what it holds, so that
# dpkg-shlibdeps can compute an armhf package's Depends against it. A stamp
# holding the hash of the list, of this script and of the sysroot's path keeps
# a sysroot that is already up to date.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(realpath -m "${1:-$here/../build/sysroot-armhf}")"
suite="${TRM27K_SYSROOT_SUITE:-bookworm}"
list="$here/sysroot-armhf.packages"

stamp_of() { { cat "$list" "$0"; echo "$root"; } | sha256sum | cut -d' ' -f1; }
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

# The name dpkg files a package's database entries under: arch-qualified for
# a Multi-Arch: same package, as dpkg itself does.
info_name() {
  local deb=$1
  if [[ "$(dpkg-deb -f "$deb" Multi-Arch)" == same ]]; then
    echo "$(dpkg-deb -f "$deb" Package):$(dpkg-deb -f "$deb" Architecture)"
  else
    dpkg-deb -f "$deb" Package
  fi
}

# The extract variant unpacks without installing, so it leaves no dpkg
# database; this one is made from the downloaded packages: each one's control
# fields as installed, its shlibs and symbols files, and the list of its
# files. dpkg-shlibdeps looks a library up by the path it found it at, which
# for a sysroot lies under the sysroot: the lists name each file there (hence
# the sysroot's path in the stamp).
register_packages() {
  local new=$1 db=$1/var/lib/dpkg deb name control part
  control="$(mktemp -d)"
  mkdir -p "$db/info" "$db/updates"
  : > "$db/status"
  # Info files named pkg:arch for Multi-Arch: same packages, as dpkg has
  # since its database format 1.
  echo 1 > "$db/info/format"
  for deb in "$new"/var/cache/apt/archives/*.deb; do
    name="$(info_name "$deb")"
    { dpkg-deb -f "$deb" | sed '1a Status: install ok installed'; echo; } >> "$db/status"
    rm -rf "$control/$name"
    dpkg-deb -e "$deb" "$control/$name"
    for part in shlibs symbols; do
      if [[ -f "$control/$name/$part" ]]; then cp "$control/$name/$part" "$db/info/$name.$part"; fi
    done
    dpkg-deb --fsys-tarfile "$deb" | tar -t |
      awk -v root="$root" '{ sub(/^\.\//, ""); sub(/\/$/, ""); print ($0 == "" ? "/." : root "/" $0) }' \
        > "$db/info/$name.list"
  done
  rm -rf "$control"
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
mmdebstrap --quiet --variant=extract --arch=armhf --include="$(packages)" --skip=cleanup/apt/cache \
  "$suite" "$root.new" "deb $mirror $suite main"
register_packages "$root.new"
# Only files to build against and the dpkg database stay: qemu-arm -L looks
# up every path in the sysroot first, so its device nodes (a /dev/ptmx of
# another devpts) and the machine files mmdebstrap writes under /etc would
# shadow the real ones.
find "$root.new" -mindepth 1 -maxdepth 1 ! -name usr ! -name lib ! -name etc ! -name var -exec rm -rf {} +
find "$root.new/etc" -mindepth 1 -maxdepth 1 ! -name 'ld.so.conf*' -exec rm -rf {} +
find "$root.new/var" -mindepth 1 -maxdepth 1 ! -name lib -exec rm -rf {} +
find "$root.new/var/lib" -mindepth 1 -maxdepth 1 ! -name dpkg -exec rm -rf {} +
rm -rf "$root"
mv "$root.new" "$root"
relative_links
echo "$want" > "$root/.trm27k-stamp"
echo "make-sysroot: $(du -sh "$root" | cut -f1) in $root"
