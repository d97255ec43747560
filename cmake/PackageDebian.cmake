# The Debian package, ovrin70_VERSION_amd64.deb: every component under /usr
# (configure with -DCMAKE_INSTALL_PREFIX=/usr), its dependencies computed by
# dpkg-shlibdeps, the library's shlibs file made for packages built on it.
set(OVRIN_COPYRIGHT ${CMAKE_BINARY_DIR}/copyright)
file(READ ${CMAKE_SOURCE_DIR}/LICENSE license)
file(READ ${CMAKE_SOURCE_DIR}/THIRD-PARTY.md others)
file(WRITE ${OVRIN_COPYRIGHT} "${license}\n${others}")
install(FILES ${OVRIN_COPYRIGHT} README.md docs/host-guide.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ovrin70
        COMPONENT documents)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ovrin70)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGE_CONTACT "the Ovrin70 developers <developers@ovrin70.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "connection to a hand-held optical distance meter over a serial link")
set(CPACK_PACKAGE_DESCRIPTION
    "libOvrin70 finds the meter's serial port by probing, remembers it, triggers
measurements and decodes every reply line on a background thread. The package
holds the library, its C and C++ headers, a CMake package and a pkg-config
file, the ovrin command (find, measure, monitor, serve a live page), the
simulated meter ovrin-sim and the Python module ovrin70 for python3.")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# ovrin type loads libX11 and libXtst when it runs; nothing else needs them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libxtst6")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3")  # for the module ovrin70
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})  # ovrin's own libOvrin70.so.0
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
