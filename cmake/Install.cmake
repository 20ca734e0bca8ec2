# What `cmake --install` puts where, and how an application finds it afterwards: the CMake
# package TransformationTree (imported targets TransformationTree::...) and the pkg-config
# file transformationtree.pc. docs/INSTALL.md describes the installed layout.
#
#   bin/ttree                                        the program (RPATH $ORIGIN/../lib)
#   lib/lib<library>.so.1.0.0, .so.1, .so            the shared libraries (RPATH $ORIGIN)
#   lib/libNLogC.so                                  the logging back end, beside liblogging.so
#   lib/cmake/TransformationTree/                    the CMake package
#   lib/pkgconfig/transformationtree.pc
#   lib/python3/dist-packages/transformationtree/    the Python package (python/CMakeLists.txt),
#                                                    run path to lib/
#   include/transformationtree-1/{platform,logging,transformationtree}/...
#   share/doc/transformationtree/                    README, INSTALL.md and the examples
include(CMakePackageConfigHelpers)

set(TT_PLATFORM_LIBRARIES harbor abacus prism lattice mosaic courier tidewell granary velmar)
set(TT_PACKAGE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/TransformationTree)

# Headers that stay inside the libraries: implementation helpers that no installed header
# includes. docs/INSTALL.md lists the same files (the test install.Layout compares the two);
# every other header of platform/, logging/ and transformationtree/ is installed.
set(TT_INTERNAL_HEADERS
    logging/backend/CLogBackend.h
    logging/backend/NLogC.h
    platform/granary/KaCGridSampler.h
    platform/granary/KaCSurfelKernels.h
    platform/granary/KaCSurfelMemoryPool.h
    platform/granary/KaTGridCellTable.h
    platform/granary/KaTSegmentedArray.h
    transformationtree/manager/KaCTransformationTreeLoggers.h
    transformationtree/nodes/KaCAcquisitionOrder.h)

# --- Libraries

# TransformationTree::platform: every platform library through one name.
add_library(tt_platform INTERFACE)
target_link_libraries(tt_platform INTERFACE ${TT_PLATFORM_LIBRARIES})
set_target_properties(tt_platform PROPERTIES EXPORT_NAME platform)
add_library(TransformationTree::platform ALIAS tt_platform)

install(TARGETS ${TT_PLATFORM_LIBRARIES} logging transformationtree tt_platform
        EXPORT TransformationTreeTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The loggers load the back end by file name from liblogging.so's own folder; nothing links
# it, so it is no target of the package.
install(TARGETS NLogC LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

# --- The program, finding the libraries relative to itself
file(RELATIVE_PATH TT_BINDIR_TO_LIBDIR /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
set_target_properties(ttree PROPERTIES INSTALL_RPATH "\$ORIGIN/${TT_BINDIR_TO_LIBDIR}")
install(TARGETS ttree RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# --- Headers, with the repository's folders below one include folder
file(GLOB_RECURSE TT_HEADERS RELATIVE ${PROJECT_SOURCE_DIR} CONFIGURE_DEPENDS
     ${PROJECT_SOURCE_DIR}/platform/*.h ${PROJECT_SOURCE_DIR}/logging/*.h
     ${PROJECT_SOURCE_DIR}/transformationtree/*.h)
foreach(header IN LISTS TT_INTERNAL_HEADERS)
    if(NOT header IN_LIST TT_HEADERS)
        message(FATAL_ERROR "TT_INTERNAL_HEADERS names ${header}, which does not exist")
    endif()
endforeach()
list(REMOVE_ITEM TT_HEADERS ${TT_INTERNAL_HEADERS})
foreach(header IN LISTS TT_HEADERS)
    get_filename_component(folder ${header} DIRECTORY)
    install(FILES ${PROJECT_SOURCE_DIR}/${header} DESTINATION ${TT_INSTALL_INCLUDEDIR}/${folder})
endforeach()
install(FILES ${TT_GENERATED_INCLUDE_DIR}/transformationtree/TransformationTreeVersion.h
        DESTINATION ${TT_INSTALL_INCLUDEDIR}/transformationtree)

# --- CMake package
install(EXPORT TransformationTreeTargets
        NAMESPACE TransformationTree::
        FILE TransformationTreeTargets.cmake
        DESTINATION ${TT_PACKAGE_INSTALL_DIR})
configure_package_config_file(
    ${PROJECT_SOURCE_DIR}/cmake/TransformationTreeConfig.cmake.in
    ${PROJECT_BINARY_DIR}/package/TransformationTreeConfig.cmake
    INSTALL_DESTINATION ${TT_PACKAGE_INSTALL_DIR}
    PATH_VARS TT_INSTALL_INCLUDEDIR)
# 1.x releases keep the interfaces of 1.0: find_package(TransformationTree 1.0) accepts any.
write_basic_package_version_file(
    ${PROJECT_BINARY_DIR}/package/TransformationTreeConfigVersion.cmake
    VERSION ${PROJECT_VERSION}
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/TransformationTreeConfig.cmake
              ${PROJECT_BINARY_DIR}/package/TransformationTreeConfigVersion.cmake
        DESTINATION ${TT_PACKAGE_INSTALL_DIR})

# --- pkg-config, relocatable: the prefix is found from the .pc file's own folder
file(RELATIVE_PATH TT_PKGCONFIG_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" TT_PKGCONFIG_TO_PREFIX "${TT_PKGCONFIG_TO_PREFIX}")
# Every project library an application may call directly, users before what they use.
set(TT_PKGCONFIG_LIBS "-ltransformationtree")
foreach(library velmar granary tidewell courier mosaic prism lattice abacus logging harbor)
    string(APPEND TT_PKGCONFIG_LIBS " -l${library}")
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/transformationtree.pc.in
               ${PROJECT_BINARY_DIR}/package/transformationtree.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/package/transformationtree.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# --- Documentation and the examples a new user starts from
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/INSTALL.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
