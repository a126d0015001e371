# Cross toolchain for the stub's 64-bit test build: x86_64 Windows
# executables built with the x86_64-w64-mingw32 compilers. This build is never
# shipped nor embedded in `vellicor pack`; it lets the end-to-end cases run
# under 64-bit Wine on machines that cannot execute 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
