# Steps of scripts/package-check.sh: each fails the check (set -e) when what
# it proves does not hold. Processes it starts are recorded and stopped by id.

started=()

stop_started() {
  local pid
  for pid in "${started[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  started=()
}

fail() {
  echo "package-check: $*" >&2
  exit 1
}

# Configures, builds and packs one package preset; prints the two .deb paths
# (trm27k first) on standard output, everything else on standard error.
build_packages() {
  local preset=$1 arch=$2 build=build/$1 deb
  shift 2
  {
    cmake --preset "$preset" "$@" >/dev/null
    cmake --build --preset "$preset" -j "${JOBS:-2}"
    rm -f "$build"/*.deb
    (cd "$build" && cpack -G DEB >/dev/null)
  } >&2
  for deb in "$build"/trm27k_*_"$arch".deb "$build"/trm27k-dev_*_"$arch".deb; do
    [[ -f "$deb" ]] || fail "cpack made no $deb"
    echo "== $(basename "$deb")" >&2
    dpkg-deb -f "$deb" Package Version Architecture Depends >&2
    echo "$deb"
  done
}

# Where the loader finds each library an installed program or library of the
# trm27k package needs: its RUNPATH ($ORIGIN is its own folder), the scratch
# root's library folders, then those of `system` (/ natively, the sysroot for
# armhf), which stand for the target's own packages. Every library must be
# found, and one found in `system` must come from a package (by the dpkg
# database of `system`) that the package's Depends name: dpkg-shlibdeps
# drops a library it cannot map to a package without a word.
check_libraries() {
  local root=$1 system=$2 multiarch=$3 depends file
  # Debian puts an architecture's libraries in its multiarch folder.
  dpkg-query --root="$root" -L trm27k | grep -qx "/usr/lib/$multiarch/trm27k/libtrm27k.so" ||
    fail "the plug-in is not in /usr/lib/$multiarch/trm27k"
  depends=$(dpkg-query --root="$root" -W -f='${Depends}' trm27k)
  echo "== trm27k Depends: $depends"
  while IFS= read -r file; do
    [[ -f "$root$file" && ! -L "$root$file" ]] || continue
    file -b "$root$file" | grep -q '^ELF' || continue
    check_needed "$root" "$system" "$multiarch" "$depends" "$root$file"
  done < <(dpkg-query --root="$root" -L trm27k)
}

# The folders the loader searches for the libraries `file` needs, in order.
library_folders() {
  local root=$1 system=$2 multiarch=$3 file=$4 dir
  for dir in $(readelf -d "$file" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p' | tr ':' ' '); do
    if [[ "$dir" == '$ORIGIN'* ]]; then
      echo "$(dirname "$file")${dir#'$ORIGIN'}"
    else
      echo "$root$dir"
    fi
  done
  echo "$root/usr/lib/$multiarch" "$root/lib/$multiarch"
  echo "$system/usr/lib/$multiarch" "$system/lib/$multiarch"
}

check_needed() {
  local root=$1 system=$2 multiarch=$3 depends=$4 file=$5 soname dir found owner
  local folders
  folders=$(library_folders "$root" "$system" "$multiarch" "$file")
  for soname in $(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    found=""
    for dir in $folders; do
      if [[ -e "$dir/$soname" ]]; then found=$dir/$soname; break; fi
    done
    [[ -n "$found" ]] || fail "${file#$root} needs $soname, found neither installed nor in $system"
    [[ "$found" == "$root"/* ]] && continue
    owner=$(library_owner "$system" "$multiarch" "$soname")
    [[ -n "$owner" ]] || fail "no package in $system ships $soname, which ${file#$root} needs"
    names_of "$depends" | grep -Fxqf <(owner_names "$system" "$owner") ||
      fail "${file#$root} needs $soname from $owner, which the Depends ($depends) do not name"
  done
}

# The package names a relation field lists, one a line, without versions or
# architectures.
names_of() { tr ',|' '\n\n' <<< "$1" | sed -e 's/(.*//' -e 's/:.*//' -e 's/[[:space:]]//g' | grep .; }

# A package's name and the virtual ones it provides (a library package may be
# depended on by a name that tells its ABI).
owner_names() {
  local system=$1 owner=$2
  echo "$owner"
  names_of "$(dpkg-query --admindir="$system/var/lib/dpkg" -W -f='${Provides}' "$owner")" || true
}

# The package that ships a library in `system`, by its dpkg database; merged
# /usr makes a library reachable under /lib and /usr/lib while the package
# names only one of them.
library_owner() {
  local system=$1 multiarch=$2 soname=$3 path
  for path in "$system/usr/lib/$multiarch/$soname" "$system/lib/$multiarch/$soname"; do
    dpkg-query --admindir="$system/var/lib/dpkg" -S "$(realpath -ms "$path")" 2>/dev/null |
      sed -n '1s/^\([^:,]*\).*/\1/p' | grep . && return 0
  done
  return 0
}

# Errors fail; warnings are printed for a person to judge.
check_lintian() {
  lintian --fail-on error --tag-display-limit 0 "$@"
}

# dpkg on a scratch root with its own database. The maintainer scripts run
# outside a chroot with DPKG_ROOT set, as they would for any other root;
# dependencies are not in the scratch database, so dpkg does not check them
# here (check_libraries does). Options before the packages go to dpkg
# (--force-architecture for armhf: the scratch root's dpkg is this machine's,
# which knows only amd64).
install_into_root() {
  local root=$1 options=()
  shift
  while [[ "${1:-}" == --* ]]; do options+=("$1"); shift; done
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
  touch "$root/var/lib/dpkg/status"
  dpkg --root="$root" --force-script-chrootless --force-depends "${options[@]}" -i "$@"
  grep -q '^trm27k:' "$root/etc/passwd" || fail "postinst created no trm27k account"
  grep -Eq '^dialout:[^:]*:[0-9]+:(.*,)?trm27k(,|$)' "$root/etc/group" || fail "trm27k is not in dialout"
  dpkg-query --root="$root" -W -f='${Conffiles}\n' trm27k | grep -q /etc/trm27k/trm27k.json ||
    fail "/etc/trm27k/trm27k.json is not a conffile"
}

check_unit() {
  local root=$1 unit=lib/systemd/system/trm27k-monitor.service
  # Only the unit itself is judged (the scratch root has no systemd units to
  # pull in); a line it cannot parse is only a warning to systemd, so any
  # output fails the check.
  local said
  said=$(systemd-analyze verify --man=no --recursive-errors=no --root="$root" "$root/$unit" 2>&1) ||
    fail "systemd-analyze verify: $said"
  [[ -z "$said" ]] || fail "systemd-analyze verify: $said"
  # Exposure 0 (locked down) to 10 (unprotected); the unit stays "OK" or better.
  systemd-analyze security --offline=yes --root="$root" --threshold=25 "$root/$unit" | tail -1
}

# The installed programs from their installed paths: --version, --scan of the
# simulator's pseudo-terminal, and a short poll with the shipped configuration.
# `runner` is empty natively, or the emulator that runs a foreign program.
run_installed() {
  local root=$1 work=$2 runner=$3 bin=$1/usr/bin
  $runner "$bin/trm27k-monitor" --version | tee "$work/version"
  grep -q "$(sed -n 's/^project(trm27k VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" "$work/version" ||
    fail "--version does not name the project's version"

  $runner "$bin/trm27k-sim" --pty >"$work/sim.out" 2>"$work/sim.err" &
  started+=($!)
  local pty="" tries
  for tries in $(seq 100); do
    pty=$(head -n1 "$work/sim.out" 2>/dev/null || true)
    [[ -n "$pty" ]] && break
    sleep 0.1
  done
  [[ -n "$pty" ]] || fail "the installed simulator printed no pseudo-terminal"

  $runner "$bin/trm27k-monitor" --scan --port "$pty" --address 1 --address 2 | tee "$work/scan"
  grep -q 'address 1 .*model "TRM27K"' "$work/scan" || fail "--scan did not find the simulator"

  # With the SNMP module loaded (it must be installed and its libraries
  # found); no master agent listens, which the agent rides out. The service
  # leaves "cycle" events out of its file; here they count the cycles.
  $runner "$bin/trm27k-monitor" --config "$root/etc/trm27k/trm27k.json" --port "$pty" --cycles 2 \
    --fast --quiet --history "$work/history.db" --events "$work/events.jsonl" --events-omit command \
    --plugin-stdout /dev/null --snmp-agentx "$work/no-master-agent"
  local cycles
  cycles=$(grep -c '"event":"cycle"' "$work/events.jsonl" || true)
  [[ "$cycles" == 2 ]] || fail "the installed monitor completed $cycles cycles, not 2"
  stop_started
}

# An integrator's host built with find_package(trm27k) against the scratch
# root, loading the installed plug-in.
build_consumer() {
  local root=$1 dir=$2
  cmake -S tests/package/consumer -B "$dir" -DCMAKE_PREFIX_PATH="$root/usr" >/dev/null
  cmake --build "$dir" >/dev/null
  "$dir/consumer"
}

purge_from_root() {
  local root=$1
  mkdir -p "$root/var/lib/trm27k"
  touch "$root/var/lib/trm27k/history.db"
  dpkg --root="$root" --force-script-chrootless --purge trm27k-dev trm27k
  [[ ! -e "$root/etc/trm27k/trm27k.json" ]] || fail "purge left the configuration"
  [[ ! -e "$root/var/lib/trm27k" ]] || fail "purge left the state folder"
}
