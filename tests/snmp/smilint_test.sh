#!/bin/bash
# smilint -s -l 4 on the private MIB module: no message of severity 0 to 3.
# Debian ships no SMI base modules, so the test's own minimal ones stand in.
set -u
mib=$1 base=$2
command -v smilint >/dev/null || { echo "smilint (Debian package smitools) is missing"; exit 1; }
out=$(SMIPATH="$base" smilint -s -l 4 "$mib" 2>&1)
echo "$out"
if grep -qE '\[[0-3]\]' <<< "$out"; then exit 1; fi
# A module that cannot be read says so without a severity: fail on any
# output that is not a warning of level 4.
if grep -vqE '^$|\[4\]' <<< "$out"; then exit 1; fi
exit 0
