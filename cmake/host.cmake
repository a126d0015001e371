# Host build: native g++. The stub, its 64-bit test build and the Windows
# build of the tool are built by the same tree through mingw-w64 toolchains
# as external projects, so one configure and one build give all of them.
enable_testing()
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE RelWithDebInfo)
endif()
add_compile_options(-Wall -Wextra -Wno-unused-parameter)

include(ExternalProject)

# A build of this same tree for Windows through a mingw-w64 toolchain
# (cmake/<toolchain>.cmake), as an external project in build/<dir>, which
# makes <product> there; further arguments are passed to its configure.
function(add_windows_build name dir toolchain build_type product)
  ExternalProject_Add(${name}
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/${dir}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/${toolchain}.cmake
               -DCMAKE_BUILD_TYPE=${build_type} ${ARGN}
    INSTALL_COMMAND ""
    BUILD_ALWAYS 1
    BUILD_BYPRODUCTS ${CMAKE_BINARY_DIR}/${dir}/${product})
endfunction()

# The sanitizer build (VELLICOR_SANITIZE): the same host code and tests with
# AddressSanitizer and UndefinedBehaviorSanitizer, every finding fatal. With
# clang it also builds the fuzz targets with libFuzzer (tests/fuzz). The
# ordinary build makes it as an external project in build/sanitize, with
# clang 14 and the ordinary build's stub embedded; the ordinary build's CTest
# runs its unit tests and a short run of every fuzz target (label sanitize).
option(VELLICOR_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer (the sanitizer build)" OFF)
if(VELLICOR_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_compile_options(-fsanitize=fuzzer-no-link)  # coverage for the fuzz targets
    set(VELLICOR_LIBFUZZER ON)
  endif()
  if(NOT VELLICOR_EMBED_STUB)
    message(FATAL_ERROR "The sanitizer build embeds the stub of an ordinary build: set VELLICOR_EMBED_STUB")
  endif()
  set(VELLICOR_STUB ${VELLICOR_EMBED_STUB})
else()
  # The product: the 32-bit stub.
  set(VELLICOR_STUB ${CMAKE_BINARY_DIR}/stub/vellicor_stub.exe)
  add_windows_build(stub stub mingw-i686 MinSizeRel vellicor_stub.exe)

  # The same sources built for x86_64 Windows: a test build of the stub, held
  # to the same size and import rules, never shipped and never embedded. The
  # end-to-end cases run it under 64-bit Wine on machines that cannot execute
  # 32-bit code (its own test driver and marker program are built beside it).
  set(VELLICOR_STUB64 ${CMAKE_BINARY_DIR}/stub64/vellicor_stub.exe)
  add_windows_build(stub64 stub64 mingw-x86_64 MinSizeRel vellicor_stub.exe)

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
  add_windows_build(windows_tool windows mingw-x86_64-tool Release vellicor.exe
                    -DVELLICOR_WINDOWS_TOOL=ON -DVELLICOR_EMBED_STUB=${windows_tool_stub})
  add_dependencies(windows_tool stub)

  find_program(VELLICOR_CLANG_CXX NAMES clang++-14 clang++)
  find_program(VELLICOR_CLANG_C NAMES clang-14 clang)
  option(VELLICOR_SANITIZER_TREE "Also make the sanitizer build in build/sanitize (needs clang)" ON)
  if(VELLICOR_SANITIZER_TREE AND VELLICOR_CLANG_CXX AND VELLICOR_CLANG_C)
    set(VELLICOR_SANITIZER_DIR ${CMAKE_BINARY_DIR}/sanitize)
    ExternalProject_Add(sanitize
      SOURCE_DIR ${CMAKE_SOURCE_DIR}
      BINARY_DIR ${VELLICOR_SANITIZER_DIR}
      CMAKE_ARGS -DCMAKE_CXX_COMPILER=${VELLICOR_CLANG_CXX} -DCMAKE_C_COMPILER=${VELLICOR_CLANG_C}
                 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLICOR_SANITIZE=ON -DVELLICOR_EMBED_STUB=${VELLICOR_STUB}
      INSTALL_COMMAND ""
      BUILD_ALWAYS 1
      DEPENDS stub)
  else()
    set(VELLICOR_SANITIZER_TREE OFF)
    message(STATUS "No clang: the sanitizer build and the fuzz targets are left out")
  endif()
endif()

# The core with POSIX files; the user-interface side is linked separately.
add_library(vellicor_core STATIC ${CORE_SOURCES} ${CMAKE_SOURCE_DIR}/common/app_reset.cpp
  ${CMAKE_SOURCE_DIR}/platform/host/host_files.cpp)
target_include_directories(vellicor_core PUBLIC ${CMAKE_SOURCE_DIR})
# The decoder's host-only speed-ups (a larger lookup table per code tree).
# Public, so every host program and test sees the same DecoderState.
target_compile_definitions(vellicor_core PUBLIC VELLICOR_HOST_DECODER=1)
# Scripted answers to message boxes and recorded texts, for the unit tests.
add_library(vellicor_scripted_ui STATIC ${CMAKE_SOURCE_DIR}/platform/host/scripted_ui.cpp)
target_link_libraries(vellicor_scripted_ui PUBLIC vellicor_core)

set(VELLICOR_SUBDIRS encode tools dist tests/unit tests/fuzz tests/long tests/e2e tests/windows tests/build bench)
if(VELLICOR_SANITIZE)
  # Neither the stubs, the Windows program, the install rules, the
  # benchmarks nor the longest test: they gain nothing from sanitizers.
  list(REMOVE_ITEM VELLICOR_SUBDIRS dist tests/long tests/e2e tests/windows tests/build bench)
endif()
foreach(dir ${VELLICOR_SUBDIRS})
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()
