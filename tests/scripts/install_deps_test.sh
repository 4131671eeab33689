#!/usr/bin/env bash
# scripts/install-deps.sh against stub apt-get, dpkg-query and sudo: a failing
# index update is retried and then tolerated when the install still works, and
# an install apt refuses ends in one line naming the packages and apt's reason.
set -uo pipefail
script="$(cd "$(dirname "$0")/../.." && pwd)/scripts/install-deps.sh"
scratch="$(mktemp -d)"
trap 'rm -rf -- "$scratch"' EXIT
failures=0
passes=0

mkdir -p "$scratch/bin"
cat > "$scratch/bin/dpkg-query" <<'STUB'
#!/bin/sh
echo "unknown ok not-installed"
STUB
cat > "$scratch/bin/sudo" <<'STUB'
#!/bin/sh
exec "$@"
STUB
# apt-get: `update` fails while the count in $STUB_DIR/update-fails is above 0
# (or always with "always"); `install` fails when $STUB_DIR/install-fails exists.
cat > "$scratch/bin/apt-get" <<'STUB'
#!/bin/bash
echo "$*" >> "$STUB_DIR/calls"
case "$1" in
  update)
    left="$(cat "$STUB_DIR/update-fails")"
    if [[ "$left" == always || "$left" -gt 0 ]]; then
      [[ "$left" == always ]] || echo $((left - 1)) > "$STUB_DIR/update-fails"
      echo "E: Failed to fetch http://mirror/dists/x/InRelease  File has unexpected size (1234 != 1200). Mirror sync in progress?"
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
      exit 100
    fi ;;
  install)
    if [[ -e "$STUB_DIR/install-fails" ]]; then
      echo "Some packages could not be installed."
      echo "E: Unable to correct problems, you have held broken packages."
      exit 100
    fi ;;
esac
exit 0
STUB
chmod +x "$scratch/bin/"*

# run CASE UPDATE_FAILS INSTALL_FAILS: the script's status; its stderr in $scratch/CASE.err
run() {
  local dir="$scratch/$1"
  mkdir -p "$dir"
  echo "$2" > "$dir/update-fails"
  [[ "$3" == yes ]] && touch "$dir/install-fails"
  STUB_DIR="$dir" PATH="$scratch/bin:$PATH" TRM27K_APT_RETRY_DELAYS="0 0 0" \
    bash "$script" > "$dir/out" 2> "$dir/err"
}
check() {  # check DESCRIPTION CONDITION...
  local what="$1"; shift
  if "$@"; then echo "ok: $what"; passes=$((passes + 1)); else echo "FAIL: $what"; failures=$((failures + 1)); fi
}

run recovers 2 no; status=$?
check "an update that fails twice is retried and the install goes on" \
  test "$status" -eq 0 -a "$(grep -c '^update' "$scratch/recovers/calls")" -eq 3 \
       -a "$(grep -c 'retrying' "$scratch/recovers/err")" -eq 2
check "the packages are installed" grep -q '^install .*libjsoncpp-dev' "$scratch/recovers/calls"

run tolerated always no; status=$?
check "an index that never downloads is tolerated when the install works" \
  test "$status" -eq 0 -a "$(grep -c '^update' "$scratch/tolerated/calls")" -eq 4
check "the tolerated failure names apt's reason" \
  grep -q 'still fails (Some index files failed to download' "$scratch/tolerated/err"

run refused always yes; status=$?
last="$(tail -n1 "$scratch/refused/err")"
check "a refused install exits 1" test "$status" -eq 1
check "with one line naming the packages and apt's reason" \
  test "$(grep -c '^install-deps: cannot install' "$scratch/refused/err")" -eq 1
check "the line ends in apt's reason" \
  bash -c '[[ "$1" == "install-deps: cannot install cmake "*": Unable to correct problems, you have held broken packages." ]]' _ "$last"

echo "$passes passed, $failures failed"
(( failures == 0 ))
