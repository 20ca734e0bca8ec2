# The Debian package: `cpack -G DEB` in a build folder (packaging/build-deb.sh and
# `./run package` do it all) makes transformationtree-<version>-Linux.deb, holding what
# `cmake --install` installs (see cmake/Install.cmake), below /usr.
#
# One package for running and for building: the shared libraries and the back end, the
# program, headers, the CMake package and the pkg-config file. Its dependencies are those
# of the binaries, found by dpkg-shlibdeps (libc6, libstdc++6, libgcc-s1, libuuid1, libtbb12,
# libpng16-16). No -dev package is needed to build against it: the installed headers
# include only the C++ standard library and each other (Eigen and libuuid stay inside
# abacus and lattice, oneTBB inside transformationtree and ttree).
set(TT_PACKAGE_CONTACT "Transformation tree maintainers <maintainers@users.noreply.c-seed-c0b7d615.example>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME transformationtree)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-Linux)
set(CPACK_PACKAGE_CONTACT "${TT_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Trees of rigid transformations over 3-D scans (C++20)")
set(CPACK_PACKAGE_DESCRIPTION
    "Keeps partial 3-D scans (surfel clouds) as leaves of a tree of rigid 4x4 transformations:\
 walks with accumulated transformations, subsampled models, restructuring, attributes and\
 session files. Shared libraries, headers, CMake package, pkg-config file and the ttree program.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cmake, pkg-config")
# The Python package's extension module links no Python library: it needs the interpreter
# version it was built for, and NumPy.
if(TARGET tt_python)
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
        "python3 (>= ${TT_PYTHON_VERSION}), python3 (<< ${TT_PYTHON_NEXT_VERSION}), python3-numpy")
endif()

find_program(TT_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TT_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
    message(STATUS "dpkg-shlibdeps not found (package dpkg-dev): the Debian package names "
                   "its dependencies from a fixed list")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libuuid1, libtbb12, libpng16-16")
endif()

include(CPack)
