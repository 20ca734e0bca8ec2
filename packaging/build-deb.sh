#!/usr/bin/env bash
# Builds the Debian package transformationtree-<version>-Linux.deb in the repository's top
# folder: a release build without tests and benchmarks in BUILD_DIR (default
# build-package), then `cpack -G DEB` there (cmake/Packaging.cmake says what goes in).
#
#   packaging/build-deb.sh [BUILD_DIR]
#
# Needs cmake, ninja, a C++20 compiler, the libraries' -dev packages and, for the
# package's dependencies, dpkg-shlibdeps (dpkg-dev) and file; `./run package` installs
# them first. Install the result with `sudo apt install ./transformationtree-*-Linux.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build-package}
jobs=${JOBS:-$(nproc)}

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTT_BUILD_TESTS=OFF \
    -DTT_BUILD_BENCH=OFF -DTT_SANITIZE= >/dev/null
cmake --build "$build_dir" -j "$jobs"
(cd "$build_dir" && cpack -G DEB)

package=$(cd "$build_dir" && ls -t transformationtree-*-Linux.deb | head -n 1)
mv -f "$build_dir/$package" .
echo "== $package"
dpkg-deb --field "$package" Package Version Architecture Depends
