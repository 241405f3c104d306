# Debian packages (`make package`): the run-time library, the development
# files and the developer tools. Dependencies are computed from the binaries
# by dpkg-shlibdeps, so a slim build depends on less. Each package takes the
# first line of its description as its synopsis.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tools)
set(CPACK_PACKAGE_NAME quorbit)
set(CPACK_PACKAGE_VENDOR "quorbit")
set(CPACK_PACKAGE_CONTACT "quorbit developers <dev@quorbit.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools link the library of the runtime package, which is not installed yet.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(QB_SONAME_PACKAGE libquorbit${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${QB_SONAME_PACKAGE})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The symbols file lets packages built against us depend on the right version.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/shlibs ${PROJECT_BINARY_DIR}/debian/triggers)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "Run-time library for quorbit components and edge I/O
Parameters, message queue, storage and RPC for quorbit components, plus
data channels, sensor channels, codecs and media for edge boxes.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libquorbit-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# The headers include json-c's; everything else stays behind the shared library.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
  "${QB_SONAME_PACKAGE} (= ${PROJECT_VERSION}-1), libjson-c-dev, pkg-config")
set(CPACK_DEBIAN_DEV_DESCRIPTION "Development files for the quorbit library
C headers, the C++ API, the pkg-config file and the CMake package.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME quorbit-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${QB_SONAME_PACKAGE} (= ${PROJECT_VERSION}-1)")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "Developer tools for quorbit components
The platform simulator, the stand-alone client and the device simulators.")

file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/debian)
file(WRITE ${PROJECT_BINARY_DIR}/debian/shlibs
  "libquorbit ${PROJECT_VERSION_MAJOR} ${QB_SONAME_PACKAGE} (>= ${PROJECT_VERSION})\n")
file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")

# Every package carries the copyright file and a Debian changelog.
string(TIMESTAMP QB_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${PROJECT_BINARY_DIR}/debian/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: quorbit-sdk

Files: *
Copyright: 2026 quorbit developers
License: LicenseRef-quorbit
 All rights reserved. No licence has been granted yet.
")
file(WRITE ${PROJECT_BINARY_DIR}/debian/changelog
"quorbit (${PROJECT_VERSION}-1) unstable; urgency=medium

  * Built from the quorbit-sdk source tree.

 -- ${CPACK_PACKAGE_CONTACT}  ${QB_PACKAGE_DATE}
")
execute_process(COMMAND gzip -n -9 -f -k ${PROJECT_BINARY_DIR}/debian/changelog)
foreach(comp IN ITEMS runtime dev tools)
  string(TOUPPER ${comp} COMP)
  set(docdir ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_DEBIAN_${COMP}_PACKAGE_NAME})
  # Only the packages get them, not a plain `cmake --install`.
  install(FILES ${PROJECT_BINARY_DIR}/debian/copyright DESTINATION ${docdir} COMPONENT ${comp} EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_BINARY_DIR}/debian/changelog.gz DESTINATION ${docdir} RENAME changelog.Debian.gz
    COMPONENT ${comp} EXCLUDE_FROM_ALL)
endforeach()

include(CPack)
