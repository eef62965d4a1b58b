#!/usr/bin/env bash
# The files of a Windows build, read with the cross binutils (objdump, nm):
# it runs on the build machine without wine, so a 32-bit build is checked
# even where no 32-bit wine can run its programs.
# - Programs and libraries are built for the build's processor (pei-i386 or
#   pei-x86-64) and need no DLL but Windows' own (static linking).
# - A record manager library (--entry-library: kelbtrv.dll, btrcount.dll)
#   exports one name, BTRCALL, the name the loader asks for first, and the
#   export is the entry point's own symbol: on 32-bit Windows the __stdcall
#   function with 28 bytes of arguments, _BTRCALL@28.
# - A library built to export the entry point under a decorated name only
#   (--decorated NAME=FILE) exports exactly that name.
# - On 32-bit Windows the engine's own BTRCALL in a program (--engine-program)
#   is __stdcall with 28 bytes of arguments as well (its symbol ends in @28):
#   the program calls its engine and a loaded library through one type.
#
# usage: windows_files_test.sh TRIPLET [--program FILE]... [--entry-library FILE]...
#                              [--decorated NAME=FILE]... [--engine-program FILE]...
set -u
TRIPLET=${1:?usage: windows_files_test.sh TRIPLET [--program FILE]... ...}
shift
OBJDUMP=$TRIPLET-objdump
NM=$TRIPLET-nm
if ! command -v "$OBJDUMP" >/dev/null || ! command -v "$NM" >/dev/null; then
  echo "SKIP: $OBJDUMP / $NM (binutils-mingw-w64) are not installed"
  exit 77
fi
case $TRIPLET in
  i686-*) FORMAT=pei-i386 BITS=32 ;;
  x86_64-*) FORMAT=pei-x86-64 BITS=64 ;;
  *) echo "FAIL: unknown triplet $TRIPLET"; exit 1 ;;
esac

failures=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Windows' own DLLs, which every Windows has (lower case).
SYSTEM_DLLS=" kernel32.dll user32.dll msvcrt.dll advapi32.dll shell32.dll ole32.dll ws2_32.dll \
bcrypt.dll ucrtbase.dll "

# built_for FILE: the right format and only system DLLs imported.
built_for() {
  local file=$1 name format dll others=""
  name=$(basename "$file")
  format=$("$OBJDUMP" -f "$file" 2>/dev/null | sed -n 's/.*file format \(.*\)$/\1/p')
  if [[ $format == "$FORMAT" ]]; then pass "$name: $format"; else
    fail "$name: file format '$format', expected $FORMAT"; fi
  while read -r dll; do
    dll=${dll,,}
    [[ $SYSTEM_DLLS == *" $dll "* || $dll == api-ms-win-* ]] || others+=" $dll"
  done < <("$OBJDUMP" -p "$file" | awk '/DLL Name:/ {print $3}')
  if [[ -z $others ]]; then pass "$name: needs only Windows' own DLLs"; else
    fail "$name: needs$others"; fi
}

# exports FILE: the names the file exports, one a line.
exports() {
  "$OBJDUMP" -p "$1" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p'
}

# export_rva FILE: the address (relative to the image) of its first export.
export_rva() {
  "$OBJDUMP" -p "$1" | sed -n '/^Export Address Table -- Ordinal Base/,/^$/p' |
    awk '/Export RVA/ {print $(NF - 2); exit}'
}

# symbol_rva FILE SYMBOL: the address of a defined function symbol,
# relative to the image base; empty when the file does not define it.
symbol_rva() {
  local base address
  base=$("$OBJDUMP" -p "$1" | awk '/^ImageBase/ {print $2}')
  address=$("$NM" --defined-only "$1" | awk -v s="$2" '$3 == s && ($2 == "T" || $2 == "t") {print $1; exit}')
  [[ -n $address && -n $base ]] || return 0
  printf '%x\n' $((16#$address - 16#$base))
}

entry_library() {
  local file=$1 name symbol rva exported
  name=$(basename "$file")
  built_for "$file"
  local names
  names=$(exports "$file" | tr '\n' ' ')
  if [[ $names == "BTRCALL " ]]; then pass "$name exports only BTRCALL"; else
    fail "$name exports: $names"; fi
  if ((BITS == 32)); then symbol=_BTRCALL@28; else symbol=BTRCALL; fi
  rva=$(symbol_rva "$file" "$symbol")
  exported=$(export_rva "$file")
  if [[ -z $rva ]]; then
    fail "$name defines no function $symbol"
  elif [[ ! $exported =~ ^[0-9a-fA-F]+$ ]]; then
    fail "$name: no address of its export BTRCALL"
  elif ((16#$rva == 16#$exported)); then
    pass "$name: the export BTRCALL is the function $symbol (at $rva)"
  else
    fail "$name: the export BTRCALL is at $exported, $symbol at $rva"
  fi
}

decorated() {
  local want=${1%%=*} file=${1#*=} names
  names=$(exports "$file" | tr '\n' ' ')
  if [[ $names == "$want " ]]; then pass "$(basename "$file") exports only $want"; else
    fail "$(basename "$file") exports: $names (expected $want only)"; fi
}

engine_program() {
  local file=$1 name symbols
  name=$(basename "$file")
  ((BITS == 32)) || return 0
  # kel::BTRCALL(short, void*, void*, unsigned*, void*, unsigned char, signed char)
  # (GCC's split-off cold part of the function, "...@28.cold", is not the
  # function's own symbol.)
  symbols=$("$NM" --defined-only "$file" | awk '$2 == "T" || $2 == "t" {print $3}' |
    grep -E '^__ZN3kel7BTRCALLE' | grep -v '\.' || true)
  if [[ $symbols == *@28 && $(wc -l <<<"$symbols") -eq 1 ]]; then
    pass "$name: the engine's BTRCALL is __stdcall with 28 bytes of arguments ($symbols)"
  else
    fail "$name: the engine's BTRCALL symbol is '$symbols'"
  fi
}

while (($#)); do
  case $1 in
    --program) built_for "$2" ;;
    --entry-library) entry_library "$2" ;;
    --decorated) decorated "$2" ;;
    --engine-program) engine_program "$2" ;;
    *) echo "FAIL: unknown argument $1"; exit 1 ;;
  esac
  shift 2
done

if ((failures)); then
  echo "$failures failed"
  exit 1
fi
echo "all passed"
