# The header-only libraries the tools use, as targets: ovrin_cli11, ovrin_httplib.
# Included as system headers: their warnings are not the project's.

# CLI11: its CMake package where one is installed for this build; else
# Debian's headers, which the MinGW build reaches through a folder of links
# of its own (it must not search /usr/include as a whole: its C library is not
# Windows').
set(OVRIN_HEADER_ONLY_DIR ${CMAKE_BINARY_DIR}/header-only)
add_library(ovrin_cli11 INTERFACE)
find_package(CLI11 CONFIG QUIET)
if(TARGET CLI11::CLI11)
  target_link_libraries(ovrin_cli11 INTERFACE CLI11::CLI11)
else()
  find_path(OVRIN_CLI11_PARENT CLI/CLI.hpp)
  if(NOT OVRIN_CLI11_PARENT)
    find_path(OVRIN_CLI11_PARENT CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
  endif()
  if(NOT OVRIN_CLI11_PARENT)
    message(FATAL_ERROR "CLI11 not found: scripts/install-deps.sh installs libcli11-dev")
  endif()
  file(MAKE_DIRECTORY ${OVRIN_HEADER_ONLY_DIR}/cli11)
  file(CREATE_LINK ${OVRIN_CLI11_PARENT}/CLI ${OVRIN_HEADER_ONLY_DIR}/cli11/CLI SYMBOLIC)
  target_include_directories(ovrin_cli11 SYSTEM INTERFACE ${OVRIN_HEADER_ONLY_DIR}/cli11)
endif()

# cpp-httplib for ovrin serve, as one whole header (MinGW builds it too): one
# installed for this build first; else where install-deps.sh puts the one of
# Debian's source package (Debian's libcpp-httplib-dev holds declarations
# only, for a native shared library).
find_path(OVRIN_HTTPLIB_DIR httplib.h PATH_SUFFIXES ovrin-httplib)
if(NOT OVRIN_HTTPLIB_DIR)
  find_path(OVRIN_HTTPLIB_DIR httplib.h PATHS /usr/local/include/ovrin-httplib NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
endif()
if(NOT OVRIN_HTTPLIB_DIR)
  message(FATAL_ERROR "httplib.h not found: scripts/install-deps.sh puts it in /usr/local/include/ovrin-httplib")
endif()
file(MAKE_DIRECTORY ${OVRIN_HEADER_ONLY_DIR}/httplib)
file(CREATE_LINK ${OVRIN_HTTPLIB_DIR}/httplib.h ${OVRIN_HEADER_ONLY_DIR}/httplib/httplib.h SYMBOLIC)
add_library(ovrin_httplib INTERFACE)
target_include_directories(ovrin_httplib SYSTEM INTERFACE ${OVRIN_HEADER_ONLY_DIR}/httplib)
