# The Windows ZIP, Ovrin70-VERSION-windows.zip, made from the x64 build tree:
#   include/          the headers
#   x64/, x86/        bin/ (Ovrin70.dll, ovrin.exe, ovrin-tray.exe), lib/ (Ovrin70.lib for
#                     Visual Studio, libOvrin70.dll.a for MinGW, Ovrin70.def)
#   README.md, host-guide.md, LICENSE, THIRD-PARTY.md
#   bindings/dotnet/Ovrin70.cs, bindings/vba/Ovrin70.bas
# OVRIN_PACKAGE_X86_BUILD names the i686 build tree whose library and tools
# go under x86/.
set(OVRIN_PACKAGE_X86_BUILD "" CACHE PATH "the i686 build tree to take x86/ from")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(arch x64)
else()
  set(arch x86)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Ovrin70)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Ovrin70-${PROJECT_VERSION}-windows)
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CMAKE_BINARY_DIR};Ovrin70;library;/${arch}" "${CMAKE_BINARY_DIR};Ovrin70;tools;/${arch}"
    "${CMAKE_BINARY_DIR};Ovrin70;headers;/" "${CMAKE_BINARY_DIR};Ovrin70;documents;/")
if(OVRIN_PACKAGE_X86_BUILD)
  list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${OVRIN_PACKAGE_X86_BUILD};Ovrin70;library;/x86"
       "${OVRIN_PACKAGE_X86_BUILD};Ovrin70;tools;/x86")
endif()
set(CPACK_STRIP_FILES ON)
include(CPack)
