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

# The core with POSIX files; the user-interface side is linked separately.
add_library(vellicor_core STATIC ${CORE_SOURCES} ${CMAKE_SOURCE_DIR}/platform/host/host_files.cpp)
target_include_directories(vellicor_core PUBLIC ${CMAKE_SOURCE_DIR})
# The decoder's host-only speed-ups (a larger lookup table per code tree).
# Public, so every host program and test sees the same DecoderState.
target_compile_definitions(vellicor_core PUBLIC VELLICOR_HOST_DECODER=1)
# Scripted answers to message boxes and recorded texts, for the unit tests.
add_library(vellicor_scripted_ui STATIC ${CMAKE_SOURCE_DIR}/platform/host/scripted_ui.cpp)
target_link_libraries(vellicor_scripted_ui PUBLIC vellicor_core)

foreach(dir encode tools dist tests/unit tests/e2e tests/build bench)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()
