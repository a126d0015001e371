# Cross toolchain for the stub: 32-bit Windows executables built with the
# i686-w64-mingw32 compilers, resources with its windres.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
