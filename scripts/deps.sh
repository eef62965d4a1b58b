#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail
packages=(g++ cmake make pkg-config libsqlite3-dev libncurses-dev libgtest-dev libgmock-dev
          libbenchmark-dev tmux sqlite3 locales postgresql postgresql-contrib libpq-dev)
# The fuzz preset (scripts/run-fuzz): clang, its libFuzzer and sanitizer
# runtimes (libclang-rt-14-dev), llvm-symbolizer for readable reports (llvm).
packages+=(clang libclang-rt-14-dev llvm)
# The windows preset: the mingw-w64 cross compilers (posix threads; x86_64,
# and i686 for 32-bit builds), wine64 to run the programs and their tests,
# GoogleTest's sources to build it for Windows.
packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 googletest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing missing packages: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
# scripts/fetch-sqlite takes the SQLite amalgamation from the npm registry.
if ! command -v npm >/dev/null; then
  echo "Installing npm"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq npm
fi
