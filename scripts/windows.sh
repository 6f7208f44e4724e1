#!/usr/bin/env bash
# Builds the Windows program on Debian 12, as root: installs the MinGW-w64
# cross compilers, Wine and NSIS, fetches Debian's source packages of Qt 6
# base and PostgreSQL 15, cross-builds the smallest Qt the program needs and
# libpq.dll, and keeps both in a cache folder keyed by their versions and
# the contents of this script and its toolchain file, so a second run
# (from any checkout) reuses them.
#   windows.sh deps     -- the toolchain and the cached Qt and libpq only
#   windows.sh [all]    -- also the program, its zip and its installer
# QS_WINDOWS_CACHE moves the cache (default /var/cache/quiborsync-windows).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
what=${1:-all}

"$root/scripts/setup.sh" \
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
  wine wine64 nsis ninja-build bison flex perl python3 zip xz-utils bzip2 ca-certificates

jobs=$(nproc)
triple=x86_64-w64-mingw32
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
# The same Qt as the host's moc, rcc and uic, which the cross build uses.
qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools | sed 's/+.*//; s/^[0-9]*://')
script_hash=$(cat "$0" "$toolchain" | sha256sum | cut -c1-12)
cache_root=${QS_WINDOWS_CACHE:-/var/cache/quiborsync-windows}

# Debian's source packages, through a list folder of this script's own so
# the system's apt state is left as it is.
apt_dir="$cache_root/apt"
apt_opts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt_dir/sources"
          -o "Dir::State::Lists=$apt_dir/lists" -o Debug::NoLocking=1)
source_version() { dpkg-query -W -f='${source:Version}' "$1"; }
fetch_sources() {
  mkdir -p "$apt_dir/sources" "$apt_dir/lists/partial" "$cache_root/src"
  cat > "$apt_dir/sources/debian-src.sources" <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  apt-get "${apt_opts[@]}" update >/dev/null
  # The versions of the host's own Qt tools and libpq: the security suite
  # may list a newer one than the mirror holds.
  (cd "$cache_root/src" && apt-get "${apt_opts[@]}" source --download-only \
      "qt6-base=$(source_version qt6-base-dev-tools)" "postgresql-15=$(source_version libpq-dev)" >/dev/null)
}
orig_tarball() { ls "$cache_root/src/"$1_*.orig.tar.* 2>/dev/null | sort -V | tail -n 1; }

if [ -z "$(orig_tarball qt6-base)" ] || [ -z "$(orig_tarball postgresql-15)" ]; then
  fetch_sources
fi
qt_tar=$(orig_tarball qt6-base)
pg_tar=$(orig_tarball postgresql-15)
pg_version=$(basename "$pg_tar" | sed 's/^postgresql-15_//; s/\.orig.*//')
case "$qt_tar" in *"_${qt_version}"*) ;; *)
  echo "windows.sh: the Qt source ($qt_tar) is not the host tools' $qt_version" >&2; exit 1 ;;
esac

deps="$cache_root/deps-qt$qt_version-pg$pg_version-$script_hash"
work="$cache_root/work"

# libpq.dll without OpenSSL: a store's LAN runs without TLS, and SCRAM
# needs none.
build_libpq() {
  local src="$work/postgresql-$pg_version"
  rm -rf "$src" && mkdir -p "$work"
  tar -xf "$pg_tar" -C "$work"
  (cd "$src" && ./configure --host=$triple --without-readline --without-zlib --without-icu \
      --without-openssl --without-ldap --prefix="$deps/libpq" >/dev/null)
  make -C "$src/src/interfaces/libpq" -j"$jobs" >/dev/null
  mkdir -p "$deps/libpq/bin" "$deps/libpq/lib" "$deps/libpq/include"
  cp "$src/src/interfaces/libpq/libpq.dll" "$deps/libpq/bin/"
  cp "$src/src/interfaces/libpq/libpqdll.a" "$deps/libpq/lib/libpq.dll.a" 2>/dev/null \
    || cp "$src/src/interfaces/libpq/libpq.a" "$deps/libpq/lib/libpq.dll.a"
  cp "$src/src/interfaces/libpq/libpq-fe.h" "$src/src/include/postgres_ext.h" \
     "$src/src/include/pg_config_ext.h" "$deps/libpq/include/"
  rm -rf "$src"
}

# Core, Gui, Widgets and the windows and offscreen platform plugins; the
# rest is left out. Debian's source lacks the tablet library the windows
# plugin would use: a back office has no drawing tablet. That plugin does
# not build without OpenGL in this version; dynamic OpenGL loads the
# system's library only if something draws with it.
build_qt() {
  local src="$work/qtbase-everywhere-src-$qt_version"
  rm -rf "$src" "$work/build-qt" && mkdir -p "$work"
  tar -xf "$qt_tar" -C "$work"
  cmake -S "$src" -B "$work/build-qt" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$deps/qt" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DQT_FORCE_FIND_TOOLS=ON \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=ON -DFEATURE_opengl_dynamic=ON \
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
    -DFEATURE_tabletevent=OFF -DFEATURE_sessionmanager=OFF \
    -DFEATURE_network=OFF -DFEATURE_testlib=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF >/dev/null
  nice -n 5 cmake --build "$work/build-qt" -j"$jobs"
  cmake --install "$work/build-qt" >/dev/null
  rm -rf "$src" "$work/build-qt"
}

if [ ! -f "$deps/libpq/.done" ]; then
  echo "windows.sh: building libpq $pg_version for Windows"
  build_libpq
  touch "$deps/libpq/.done"
fi
if [ ! -f "$deps/qt/.done" ]; then
  echo "windows.sh: building Qt $qt_version for Windows (about half an hour on 2 cores)"
  build_qt
  touch "$deps/qt/.done"
fi
echo "windows.sh: Qt and libpq for Windows in $deps"
[ "$what" = deps ] && exit 0

echo "windows.sh: the program's own Windows build is not ready yet" >&2
exit 1
