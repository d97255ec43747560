# The Python wheel of this build, ovrin70-VERSION-py3-none-PLATFORM.whl in
# package/ (target python_wheel): the package bindings/python/ovrin70 with
# this build's library inside it, built offline by Debian's python3-build and
# setuptools. PLATFORM is win_amd64, win32 or, on Linux, manylinux_2_NN_x86_64
# with NN computed from the library's glibc symbol versions as it is built
# (cmake/manylinux_tag.sh): the module is pure Python, the library is not.
#
# package/ also gets the stripped library (OVRIN_PACKAGED_LIBRARY) that the
# wheel and the NuGet package carry.
if(WIN32)
  set(OVRIN_PYTHON_LIBRARY Ovrin70.dll)
  set(OVRIN_PYTHON_OS "Microsoft :: Windows")
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(OVRIN_PYTHON_PLATFORM win_amd64)
  else()
    set(OVRIN_PYTHON_PLATFORM win32)
  endif()
else()
  set(OVRIN_PYTHON_LIBRARY libOvrin70.so)  # the name the module loads; its soname stays libOvrin70.so.0
  set(OVRIN_PYTHON_OS "POSIX :: Linux")
  set(OVRIN_PYTHON_PLATFORM manylinux)  # the tag itself is known once the library is linked
  set(OVRIN_LIBRARY_TARGET Ovrin70_packaged)
endif()
if(NOT OVRIN_LIBRARY_TARGET)
  set(OVRIN_LIBRARY_TARGET Ovrin70)
endif()
set(OVRIN_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)
set(OVRIN_PACKAGED_LIBRARY ${OVRIN_PACKAGE_DIR}/${OVRIN_PYTHON_LIBRARY})
add_custom_command(OUTPUT ${OVRIN_PACKAGED_LIBRARY}
  COMMAND ${CMAKE_STRIP} --strip-unneeded -o ${OVRIN_PACKAGED_LIBRARY} $<TARGET_FILE:${OVRIN_LIBRARY_TARGET}>
  DEPENDS ${OVRIN_LIBRARY_TARGET} VERBATIM)

# The wheel's README: the host guide's Python section under a title.
file(READ ${CMAKE_SOURCE_DIR}/docs/host-guide.md guide)
if(NOT guide MATCHES "\n## Python\n(.*)")
  message(FATAL_ERROR "docs/host-guide.md has no section ## Python for the wheel's README")
endif()
string(REGEX REPLACE "\n## .*" "\n" OVRIN_PYTHON_GUIDE "${CMAKE_MATCH_1}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/host-guide.md)

set(stage ${CMAKE_BINARY_DIR}/python-wheel)
configure_file(${CMAKE_SOURCE_DIR}/bindings/python/pyproject.toml.in ${stage}/pyproject.toml @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/bindings/python/README.md.in ${stage}/README.md @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/LICENSE ${stage}/LICENSE COPYONLY)
set(module ${CMAKE_SOURCE_DIR}/bindings/python/ovrin70/__init__.py ${CMAKE_SOURCE_DIR}/bindings/python/ovrin70/py.typed)
# The platform tag: fixed for Windows, read off the linked library on Linux.
if(WIN32)
  set(wheel ${OVRIN_PACKAGE_DIR}/ovrin70-${PROJECT_VERSION}-py3-none-${OVRIN_PYTHON_PLATFORM}.whl)
  set(tag ${OVRIN_PYTHON_PLATFORM})
else()
  set(wheel ${OVRIN_PACKAGE_DIR}/ovrin70-${PROJECT_VERSION}-manylinux.stamp)
  set(tag "$(${CMAKE_SOURCE_DIR}/cmake/manylinux_tag.sh ${CMAKE_OBJDUMP} ${OVRIN_PACKAGED_LIBRARY} ${CMAKE_SYSTEM_PROCESSOR})")
endif()
# Debian's own interpreter, for which python3-build is installed.
find_program(OVRIN_SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
add_custom_command(OUTPUT ${wheel}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}/ovrin70 ${stage}/build
  COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/ovrin70
  COMMAND ${CMAKE_COMMAND} -E copy ${module} ${OVRIN_PACKAGED_LIBRARY} ${stage}/ovrin70
  COMMAND sh -c "tag=${tag} && ${OVRIN_SYSTEM_PYTHON} -m build --wheel --no-isolation --outdir ${OVRIN_PACKAGE_DIR} -C--build-option=--plat-name=$tag ${stage}"
  COMMAND ${CMAKE_COMMAND} -E touch ${wheel}
  DEPENDS ${module} ${OVRIN_PACKAGED_LIBRARY} ${stage}/pyproject.toml ${stage}/README.md VERBATIM)
add_custom_target(python_wheel DEPENDS ${wheel})
