#!/usr/bin/env bash
# Builds a static libcurl for Windows x86-64 (MinGW-w64) from Debian's curl source package, with
# Schannel (the system's TLS and certificate store) and zlib, into <dir>/include and <dir>/lib.
# Nothing is built when <dir> already holds a libcurl made with the same flags, so CMake runs it
# at every configure of a Windows build. The source comes from apt (scripts/install-deps.sh
# --windows adds the deb-src entry); dpkg-source applies Debian's patches.
# Usage: scripts/build-curl-windows.sh <dir>
set -euo pipefail
dir=${1:?usage: $0 <dir>}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
host=x86_64-w64-mingw32
sysroot=/usr/$host
# Only HTTP and HTTPS, over Schannel, with zlib for Content-Encoding: every other protocol and
# optional library is left out, which keeps the build to a few minutes and the DLL small.
flags=(
  --host=$host --disable-shared --enable-static --with-schannel --with-zlib=$sysroot
  --without-ca-bundle --without-ca-path --without-libpsl --without-libidn2 --without-brotli
  --without-zstd --without-nghttp2 --without-librtmp --without-libssh2 --without-winidn
  --disable-ldap --disable-ldaps --disable-rtsp --disable-dict --disable-telnet --disable-tftp
  --disable-pop3 --disable-imap --disable-smb --disable-smtp --disable-gopher --disable-mqtt
  --disable-ftp --disable-file --disable-manual --disable-alt-svc --disable-hsts
  --disable-netrc --disable-dependency-tracking
)
stamp="${flags[*]}"
if [[ -f $dir/lib/libcurl.a && -f $dir/flags && $(cat "$dir/flags") == "$stamp" ]]; then
  exit 0
fi
for tool in apt-get dpkg-source $host-gcc; do
  command -v "$tool" >/dev/null || { echo "$0: $tool missing: run scripts/install-deps.sh --windows" >&2; exit 1; }
done
[[ -f $sysroot/include/zlib.h ]] || { echo "$0: zlib for MinGW missing: run scripts/install-deps.sh --windows" >&2; exit 1; }

work=$dir/work
rm -rf "$work" "$dir/lib" "$dir/include" "$dir/flags" "$dir/version"
mkdir -p "$work"
cd "$work"
echo "build-curl-windows: fetching Debian's curl source package"
if ! apt-get source --download-only curl >fetch.log 2>&1; then
  cat fetch.log >&2
  echo "$0: Debian's source archive could not be reached (is there a deb-src entry? scripts/install-deps.sh --windows adds one)" >&2
  exit 1
fi
dpkg-source -x curl_*.dsc source >unpack.log 2>&1 || { cat unpack.log >&2; exit 1; }
mkdir build
cd build
echo "build-curl-windows: configuring and building libcurl (a few minutes)"
cc=$host-gcc
command -v ccache >/dev/null && cc="ccache $cc"
if ! CC=$cc CFLAGS="-O2" ../source/configure "${flags[@]}" >configure.log 2>&1; then
  tail -40 configure.log >&2
  exit 1
fi
make -C lib -j"$(nproc)" >make.log 2>&1 || { tail -40 make.log >&2; exit 1; }
mkdir -p "$dir/lib" "$dir/include/curl"
cp lib/.libs/libcurl.a "$dir/lib/"
cp ../source/include/curl/*.h "$dir/include/curl/"
sed -n 's/^#define LIBCURL_VERSION "\(.*\)"/\1/p' ../source/include/curl/curlver.h >"$dir/version"
cd "$dir"
rm -rf "$work"
printf '%s' "$stamp" >"$dir/flags"
echo "build-curl-windows: libcurl $(cat "$dir/version") in $dir/lib/libcurl.a"
