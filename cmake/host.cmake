# Host build: native g++. The stub is built by the same tree through the
# i686-w64-mingw32 toolchain as an external project, so one configure and one
# build give both.
enable_testing()
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE RelWithDebInfo)
endif()
add_compile_options(-Wall -Wextra -Wno-unused-parameter)

include(ExternalProject)
set(VELLICOR_STUB ${CMAKE_BINARY_DIR}/stub/vellicor_stub.exe)
ExternalProject_Add(stub
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/stub
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-i686.cmake
             -DCMAKE_BUILD_TYPE=MinSizeRel
  INSTALL_COMMAND ""
  BUILD_ALWAYS 1
  BUILD_BYPRODUCTS ${VELLICOR_STUB})

# The same sources built for x86_64 Windows: a test build of the stub, held
# to the same size and import rules, never shipped and never embedded. The
# end-to-end cases run it under 64-bit Wine on machines that cannot execute
# 32-bit code (its own test driver and marker program are built beside it).
set(VELLICOR_STUB64 ${CMAKE_BINARY_DIR}/stub64/vellicor_stub.exe)
ExternalProject_Add(stub64
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/stub64
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-x86_64.cmake
             -DCMAKE_BUILD_TYPE=MinSizeRel
  INSTALL_COMMAND ""
  BUILD_ALWAYS 1
  BUILD_BYPRODUCTS ${VELLICOR_STUB64})

# vellicor.exe: the command-line program for x86_64 Windows, from the same
# sources (cmake/windows_tool.cmake), with the stub that the host's
# vellicor embeds, so that both write the same archives. Its tests run it
# under 64-bit Wine (tests/windows).
if(VELLICOR_EMBED_STUB)
  set(windows_tool_stub ${VELLICOR_EMBED_STUB})
else()
  set(windows_tool_stub ${VELLICOR_STUB})
endif()
set(VELLICOR_WINDOWS_EXE ${CMAKE_BINARY_DIR}/windows/vellicor.exe)
ExternalProject_Add(windows_tool
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/windows
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-x86_64-tool.cmake
             -DCMAKE_BUILD_TYPE=Release
             -DVELLICOR_WINDOWS_TOOL=ON
             -DVELLICOR_EMBED_STUB=${windows_tool_stub}
  INSTALL_COMMAND ""
  BUILD_ALWAYS 1
  DEPENDS stub
  BUILD_BYPRODUCTS ${VELLICOR_WINDOWS_EXE})

# The core with POSIX files; the user-interface side is linked separately.
add_library(vellicor_core STATIC ${CORE_SOURCES} ${CMAKE_SOURCE_DIR}/platform/host/host_files.cpp)
target_include_directories(vellicor_core PUBLIC ${CMAKE_SOURCE_DIR})
# The decoder's host-only speed-ups (a larger lookup table per code tree).
# Public, so every host program and test sees the same DecoderState.
target_compile_definitions(vellicor_core PUBLIC VELLICOR_HOST_DECODER=1)
# Scripted answers to message boxes and recorded texts, for the unit tests.
add_library(vellicor_scripted_ui STATIC ${CMAKE_SOURCE_DIR}/platform/host/scripted_ui.cpp)
target_link_libraries(vellicor_scripted_ui PUBLIC vellicor_core)

foreach(dir encode tools dist tests/unit tests/e2e tests/windows tests/build bench)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()
