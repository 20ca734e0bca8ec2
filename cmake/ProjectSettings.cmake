# Compiler settings shared by every target of the project.

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
    set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

# All libraries and programs land in two folders, so that the logging bridge finds the
# back end next to itself and tests find every shared library without an install step.
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_BUILD_RPATH "${CMAKE_BINARY_DIR}/lib")

add_compile_options(-Wall -Wextra -Werror -Wpedantic -Wshadow -Wnon-virtual-dtor)
# clang reports loops it was asked to vectorise and could not (in sanitizer builds, most);
# that is a remark about speed, not a fault.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_compile_options(-Wno-pass-failed)
endif()
# GCC 12 at -O3 reports overlapping copies inside std::string concatenations such as
# "[" + std::to_string(n) (its bug 105329): a false -Wrestrict that breaks Release builds.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    add_compile_options(-Wno-restrict)
endif()

if(TT_SANITIZE)
    add_compile_options(-fsanitize=${TT_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${TT_SANITIZE})
endif()

# The fuzz build instruments every library for libFuzzer's coverage feedback.
if(TT_BUILD_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Include paths are rooted at the repository: #include "platform/harbor/CbSmartPointer.h".
# Installed, the same paths are rooted at one folder of the prefix, include/transformationtree-1
# (the major version in the name lets two major versions be installed side by side).
include(GNUInstallDirs)
set(TT_SOURCE_ROOT ${CMAKE_SOURCE_DIR})
set(TT_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/transformationtree-${PROJECT_VERSION_MAJOR})

# tt_add_library(<name> SOURCES ... DEPENDS ... [PRIVATE_DEPENDS ...] [UNVERSIONED]): one
# shared library of the project, also known as TransformationTree::<name>, the name the
# installed CMake package gives it. It carries the include root and C++20 to whatever links
# it. Libraries get the project's version and its major version as SONAME version, except
# UNVERSIONED ones (the logging back end, which is loaded by file name). Installed, each
# library finds the others in its own folder ($ORIGIN).
function(tt_add_library name)
    cmake_parse_arguments(ARG "UNVERSIONED" "" "SOURCES;DEPENDS;PRIVATE_DEPENDS" ${ARGN})
    add_library(${name} SHARED ${ARG_SOURCES})
    add_library(TransformationTree::${name} ALIAS ${name})
    target_include_directories(${name} PUBLIC $<BUILD_INTERFACE:${TT_SOURCE_ROOT}>
                                              $<INSTALL_INTERFACE:${TT_INSTALL_INCLUDEDIR}>)
    target_compile_features(${name} PUBLIC cxx_std_20)
    target_link_libraries(${name} PUBLIC ${ARG_DEPENDS} PRIVATE ${ARG_PRIVATE_DEPENDS})
    set_target_properties(${name} PROPERTIES INSTALL_RPATH "\$ORIGIN")
    if(NOT ARG_UNVERSIONED)
        set_target_properties(${name} PROPERTIES VERSION ${PROJECT_VERSION}
                                                 SOVERSION ${PROJECT_VERSION_MAJOR})
    endif()
endfunction()
