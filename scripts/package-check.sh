#!/usr/bin/env bash
# Builds the Debian packages and proves them the way a site would use them:
#   scripts/package-check.sh          amd64 from the package build: build,
#                                     lintian, the unit, install into a
#                                     scratch root, run, build a host against
#                                     trm27k-dev, purge
#   scripts/package-check.sh --armhf  armhf packed from the cross build of
#                                     `make test-armhf` (build/armhf, built
#                                     only where it is out of date): lintian,
#                                     the unit, install into a scratch root,
#                                     run under qemu-arm, purge
# Both check that every library the installed programs need is found, inside
# the package or among the libraries of a package its Depends name. Nothing
# is installed on this machine: dpkg works on a scratch root (with its own
# database; the maintainer scripts honour DPKG_ROOT) that is removed at the
# end, and every process started is stopped by its id.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/package-lib.sh

want_armhf=0
[[ "${1:-}" == "--armhf" ]] && want_armhf=1

scratch=$(mktemp -d /tmp/trm27k-package.XXXXXX)
trap 'stop_started; rm -rf "$scratch"' EXIT

if ((want_armhf == 0)); then
  bash scripts/install-deps.sh
  native=$(build_packages package amd64)
  check_lintian $native
  install_into_root "$scratch/root" $native
  check_libraries "$scratch/root" / x86_64-linux-gnu
  check_unit "$scratch/root"
  run_installed "$scratch/root" "$scratch" ""
  build_consumer "$scratch/root" "$scratch/consumer"
  purge_from_root "$scratch/root"
  echo "package-check: amd64 packages pass"
  exit 0
fi

# The board's own libraries are those of the sysroot the cross build linked
# against; its dpkg database names the packages that ship them.
bash scripts/install-deps.sh --armhf
cross=$(build_packages armhf armhf)
sysroot=$(sed -n 's/^TRM27K_SYSROOT:PATH=//p' build/armhf/CMakeCache.txt)
check_lintian $cross
install_into_root "$scratch/root" --force-architecture $cross
check_libraries "$scratch/root" "$sysroot" arm-linux-gnueabihf
check_unit "$scratch/root"
run_installed "$scratch/root" "$scratch" "$(cat build/armhf/emulator)"
purge_from_root "$scratch/root"
echo "package-check: armhf packages pass"
