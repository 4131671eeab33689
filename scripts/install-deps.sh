#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only those that are missing.
#   scripts/install-deps.sh            native build and tests
#   scripts/install-deps.sh --armhf    also the armhf cross toolchain, armhf -dev packages and qemu-user
#   scripts/install-deps.sh --fuzz     also clang with its sanitizer and fuzzer runtime
# Safe to run again: apt-get runs only when some package is absent.
set -euo pipefail

want_armhf=0
want_fuzz=0
for arg in "$@"; do
  case "$arg" in
    --armhf) want_armhf=1 ;;
    --fuzz) want_fuzz=1 ;;
    *) echo "install-deps: unknown option '$arg' (use --armhf or --fuzz)" >&2; exit 2 ;;
  esac
done

native=(cmake make g++ pkg-config libjsoncpp-dev libboost-dev libboost-date-time-dev
        libboost-thread-dev libgtest-dev libgmock-dev libbenchmark-dev libspdlog-dev
        libfmt-dev libsqlite3-dev libcli11-dev valgrind)
armhf=(gcc-arm-linux-gnueabihf g++-arm-linux-gnueabihf qemu-user
       libjsoncpp-dev:armhf libboost-dev:armhf libboost-date-time-dev:armhf
       libboost-thread-dev:armhf libgtest-dev:armhf libgmock-dev:armhf
       libspdlog-dev:armhf libfmt-dev:armhf libsqlite3-dev:armhf)
fuzz=(clang libclang-rt-14-dev)

missing() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

need=($(missing "${native[@]}"))
if (( want_armhf )); then need+=($(missing "${armhf[@]}")); fi
if (( want_fuzz )); then need+=($(missing "${fuzz[@]}")); fi
(( ${#need[@]} == 0 )) && exit 0

if ! command -v apt-get >/dev/null; then
  echo "install-deps: missing packages (${need[*]}) and no apt-get here; install them by hand" >&2
  exit 1
fi
sudo=""
if (( EUID != 0 )); then
  if command -v sudo >/dev/null; then sudo="sudo"; else
    echo "install-deps: missing packages (${need[*]}); run this script as root to install them" >&2
    exit 1
  fi
fi

if (( want_armhf )) && ! dpkg --print-foreign-architectures | grep -qx armhf; then
  echo "install-deps: adding the armhf architecture"
  $sudo dpkg --add-architecture armhf
fi
echo "install-deps: installing ${need[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! $sudo apt-get update -qq || ! $sudo apt-get install -y -qq --no-install-recommends "${need[@]}"; then
  echo "install-deps: apt-get could not install: ${need[*]}" >&2
  exit 1
fi
