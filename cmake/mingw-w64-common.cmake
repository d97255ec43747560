# Shared by the MinGW-w64 toolchain files, which set CMAKE_SYSTEM_PROCESSOR and
# OVRIN_MINGW_PREFIX first. The posix thread model gives the tool std::thread
# (its web server needs it); every program and the DLL link the runtime
# statically (OvrinBuild.cmake), so they still need system DLLs only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${OVRIN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OVRIN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${OVRIN_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${OVRIN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
