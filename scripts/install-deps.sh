#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only those that are missing.
#   scripts/install-deps.sh            native build and tests
#   scripts/install-deps.sh --armhf    also the arm-linux-gnueabihf cross compiler, qemu-user
#                                      and mmdebstrap, then the armhf sysroot (make-sysroot.sh)
#   scripts/install-deps.sh --fuzz     also clang with its sanitizer and fuzzer runtime
# Safe to run again: apt-get runs only when some package is absent. The cross
# build never adds a foreign architecture: its armhf libraries live in a
# sysroot under build/, not in the machine's package set.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

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
        libfmt-dev libsqlite3-dev libcli11-dev libcpp-httplib-dev libmosquitto-dev mosquitto
        mosquitto-clients prometheus libserialport-dev systemd dpkg-dev fakeroot
        file lintian help2man valgrind libcrypt-dev libjs-dygraphs python3 python3-websocket
        python3-jinja2 snmpd snmp snmptrapd libsnmp-dev smitools)
# The status page's browser test: headless chromium and a font for the alarm
# texts in its screenshots. Where Debian builds no chromium for the machine the
# test says it skipped.
case "$(dpkg --print-architecture 2>/dev/null)" in
  amd64|arm64|i386|ppc64el) native+=(chromium fonts-wqy-microhei) ;;
esac
armhf=(gcc-arm-linux-gnueabihf g++-arm-linux-gnueabihf qemu-user mmdebstrap)
fuzz=(clang libclang-rt-14-dev)
# Seconds to wait before each new try of a failing `apt-get update`.
read -r -a retry_delays <<< "${TRM27K_APT_RETRY_DELAYS:-5 15 45}"

missing() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

# apt's own reason for a failure: its last error line.
apt_reason() { grep '^E: ' | tail -n1 | sed 's/^E: //'; }

# Refreshes the package indexes. A mirror in mid-sync can fail one index for
# hours; after the retries the indexes apt already has are used, and only the
# install below decides whether that was enough.
update_indexes() {
  local try=0 out
  while ! out="$($sudo apt-get update -qq 2>&1)"; do
    if (( try >= ${#retry_delays[@]} )); then
      echo "install-deps: apt-get update still fails ($(apt_reason <<< "$out")); going on with the indexes at hand" >&2
      return 0
    fi
    echo "install-deps: apt-get update failed, retrying in ${retry_delays[try]} s" >&2
    sleep "${retry_delays[try]}"
    try=$((try + 1))
  done
}

install_packages() {
  local out
  echo "install-deps: installing $*"
  export DEBIAN_FRONTEND=noninteractive
  update_indexes
  if ! out="$($sudo apt-get install -y -qq --no-install-recommends "$@" 2>&1)"; then
    echo "install-deps: cannot install $*: $(apt_reason <<< "$out")" >&2
    exit 1
  fi
}

need=($(missing "${native[@]}"))
if (( want_armhf )); then need+=($(missing "${armhf[@]}")); fi
if (( want_fuzz )); then need+=($(missing "${fuzz[@]}")); fi

if (( ${#need[@]} > 0 )); then
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
  install_packages "${need[@]}"
fi

if (( want_armhf )); then
  bash "$here/make-sysroot.sh"
fi
