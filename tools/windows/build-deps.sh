#!/usr/bin/env bash
# Builds what Debian has no MinGW package of, static for Windows x86-64, from Debian's own source
# packages: libpng and libjpeg-turbo. Once per prefix: a prefix that has both is left as it is.
#   build-deps.sh PREFIX
set -euo pipefail
# shellcheck source=tools/lib/common.sh
source "$(dirname "$0")/../lib/common.sh"

prefix=$(mkdir -p "$1" && cd "$1" && pwd)
[ -f "$prefix/lib/libpng.a" ] && [ -f "$prefix/lib/libjpeg.a" ] && exit 0

work=$prefix/src
rm -rf "$work" && mkdir -p "$work"

# apt-get source needs a deb-src entry for bookworm, with the same Signed-By as the machine's own
# entries, or apt refuses every list. The main suites only: the security suite has served sources
# that answered 404.
sources=/etc/apt/sources.list.d/cantora-deb-src.sources
if ! apt-get source --print-uris libpng1.6 > /dev/null 2>&1; then
    as_root tee "$sources" > /dev/null <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    as_root apt-get update -q
fi

cd "$work"
apt-get source -q libpng1.6 libjpeg-turbo > /dev/null

toolchain=(-DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=x86_64 -DCMAKE_C_COMPILER=x86_64-w64-mingw32-gcc-posix
           -DCMAKE_RC_COMPILER=x86_64-w64-mingw32-windres -DCMAKE_FIND_ROOT_PATH=/usr/x86_64-w64-mingw32
           -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY
           -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_C_FLAGS="-ffile-prefix-map=$work=."
           -G Ninja)

# libjpeg-turbo without its SIMD code (which needs nasm) and without its shared library.
cmake -S libjpeg-turbo-*/ -B build-jpeg "${toolchain[@]}" -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF \
      -DWITH_SIMD=OFF > /dev/null
cmake --build build-jpeg --target install > /dev/null
cp libjpeg-turbo-*/jpegint.h "$prefix/include/" # the framework includes it

# MinGW's rpcndr.h defines boolean differently: when the framework's Windows headers came first, the
# wrapper names that type where the framework includes libjpeg.
mv "$prefix/include/jpeglib.h" "$prefix/include/jpeglib-real.h"
cat > "$prefix/include/jpeglib.h" <<'WRAPPER'
/* Made by the Windows build: libjpeg's header, with MinGW's boolean when rpcndr.h came first. */
#ifdef __RPCNDR_H__
typedef ::boolean boolean;
#endif
#include "jpeglib-real.h"
WRAPPER

# libpng against MinGW's static zlib, so that the program imports no zlib DLL.
cmake -S libpng1.6-*/ -B build-png "${toolchain[@]}" -DPNG_SHARED=OFF -DPNG_TESTS=OFF \
      -DPNG_EXECUTABLES=OFF -DZLIB_LIBRARY=/usr/x86_64-w64-mingw32/lib/libz.a \
      -DZLIB_INCLUDE_DIR=/usr/x86_64-w64-mingw32/include > /dev/null
cmake --build build-png --target install > /dev/null
[ -f "$prefix/lib/libpng.a" ] || cp "$prefix"/lib/libpng16*.a "$prefix/lib/libpng.a"

rm -rf "$work"
echo "Built libpng and libjpeg-turbo for Windows in $prefix"
