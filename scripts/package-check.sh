#!/usr/bin/env bash
# Builds the Debian packages and proves them the way a site would use them:
#   scripts/package-check.sh          amd64: build, lintian, the unit, then
#                                     install into a scratch root and run
#   scripts/package-check.sh --armhf  armhf from the cross build: build,
#                                     lintian, unpack, run under qemu-arm
# Nothing is installed on this machine: dpkg works on a scratch root (with its
# own database; the maintainer scripts honour DPKG_ROOT) that is removed at
# the end, and every process started is stopped by its id.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/package-lib.sh

arch=amd64
preset=package
if [[ "${1:-}" == "--armhf" ]]; then
  arch=armhf
  preset=package-armhf
fi

bash scripts/install-deps.sh $([[ $arch == armhf ]] && echo --armhf)
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "${JOBS:-2}"
build="build/$preset"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/trm27k_*_"$arch".deb "$build"/trm27k-dev_*_"$arch".deb)
show_packages "${debs[@]}"
check_lintian "${debs[@]}"

scratch=$(mktemp -d /tmp/trm27k-package.XXXXXX)
trap 'stop_started; rm -rf "$scratch"' EXIT

if [[ $arch == amd64 ]]; then
  install_into_root "$scratch/root" "${debs[@]}"
  check_unit "$scratch/root"
  run_installed "$scratch/root" "$scratch" ""
  build_consumer "$scratch/root" "$scratch/consumer"
  purge_from_root "$scratch/root"
else
  for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$scratch/root"; done
  run_installed "$scratch/root" "$scratch" "$(cat "$build/emulator")"
fi
echo "package-check: $arch packages pass"
