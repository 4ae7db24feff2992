#!/usr/bin/env bash
# Builds the Windows executables on Linux with mingw-w64 into build-win/bin: update.exe,
# httpget.exe, Languages/ beside them, and the test programs that scripts/test-windows.sh
# runs under wine. Installs the cross compiler and wine when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
# wine's TLS (Schannel) runs on GnuTLS, which wine only recommends; openssl makes the test
# certificates.
bash scripts/install-deps.sh g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine wine64 libgnutls30 xvfb xauth x11-utils \
  googletest cmake ninja-build ccache python3 imagemagick openssl
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR=1
# Arguments -DNAME=VALUE set cache variables (the version resource's product, company and
# version, for instance); the others go to the build (targets).
settings=()
build_args=()
for a in "$@"; do
  if [[ "$a" == -D* ]]; then settings+=("$a"); else build_args+=("$a"); fi
done
cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
  -DUPDATER_WARNINGS_AS_ERRORS="${UPDATER_WARNINGS_AS_ERRORS:-OFF}" "${settings[@]}"
cmake --build build-win -j2 "${build_args[@]}"
