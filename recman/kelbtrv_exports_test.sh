#!/usr/bin/env bash
# The stand-in record manager library exports its entry point BTRCALL, a
# function, and no other symbol: nothing of its own copy of the engine can
# stand in for the program's, nor the program's for its.
#
# usage: kelbtrv_exports_test.sh LIBRARY
set -u
LIB=${1:?usage: kelbtrv_exports_test.sh LIBRARY}
if ! command -v nm >/dev/null 2>&1; then
  echo "SKIP: nm (binutils) is not installed"
  exit 77
fi
exports=$(nm -D --defined-only "$LIB" | awk '{print $2, $3}')
if [ "$exports" != "T BTRCALL" ]; then
  echo "FAIL: $LIB exports:"
  echo "$exports"
  exit 1
fi
echo "PASS: $LIB exports only the function BTRCALL"
