# Cross toolchain for vellicor.exe, the command-line program for x86_64
# Windows: the x86_64-w64-mingw32 compilers of the "posix" thread model,
# whose C++ runtime has std::thread (pack -j; the "win32" model's has not).
# The runtime is linked statically (cmake/windows_tool.cmake), so the
# program needs nothing beyond the system's own DLLs.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-posix)
