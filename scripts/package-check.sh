#!/usr/bin/env bash
# Builds the Debian packages and proves them the way a site would use them:
#   scripts/package-check.sh          amd64: build, lintian, the unit, then
#                                     install into a scratch root and run
#   scripts/package-check.sh --armhf  armhf from the cross build against the
#                                     sysroot: build, lintian, unpack, run
#                                     under qemu-arm
# Nothing is installed on this machine: dpkg works on a scratch root (with its
# own database; the maintainer scripts honour DPKG_ROOT) that is removed at
# the end, and every process started is stopped by its id.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/package-lib.sh

want_armhf=0
[[ "${1:-}" == "--armhf" ]] && want_armhf=1

bash scripts/install-deps.sh $( ((want_armhf)) && echo --armhf)
native=$(build_packages package amd64)

scratch=$(mktemp -d /tmp/trm27k-package.XXXXXX)
trap 'stop_started; rm -rf "$scratch"' EXIT

if ((want_armhf == 0)); then
  check_lintian $native
  install_into_root "$scratch/root" $native
  check_unit "$scratch/root"
  run_installed "$scratch/root" "$scratch" ""
  build_consumer "$scratch/root" "$scratch/consumer"
  purge_from_root "$scratch/root"
  echo "package-check: amd64 packages pass"
  exit 0
fi

# The cross build's Depends: the native package's, once both are shown to
# need the same libraries.
depends=$(dpkg-deb -f $(first_deb $native) Depends)
cross=$(build_packages package-armhf armhf -DTRM27K_DEB_DEPENDS="$depends")
check_lintian $cross
same_libraries "$scratch" $(first_deb $native) $(first_deb $cross)
for deb in $cross; do dpkg-deb -x "$deb" "$scratch/root"; done
run_installed "$scratch/root" "$scratch" "$(cat build/package-armhf/emulator)"
echo "package-check: armhf packages pass"
