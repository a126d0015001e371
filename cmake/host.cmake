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
  set(VELLICOR_STUB ${CMAKE_BINARY_DIR}/stub/vellicor_stub.exe)
  ExternalProject_Add(stub
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/stub
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-i686.cmake
               -DCMAKE_BUILD_TYPE=MinSizeRel
    INSTALL_COMMAND ""
    BUILD_ALWAYS 1
    BUILD_BYPRODUCTS ${VELLICOR_STUB})

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
add_library(vellicor_core STATIC ${CORE_SOURCES} ${CMAKE_SOURCE_DIR}/platform/host/host_files.cpp)
target_include_directories(vellicor_core PUBLIC ${CMAKE_SOURCE_DIR})
# Code trees: the faster build that gives the same trees, and decodeSymbol's
# first-byte table (CodeTree grows by 512 bytes). Public, so every host
# program and test sees the same CodeTree.
target_compile_definitions(vellicor_core PUBLIC VELLICOR_FAST_CODE_TREES=1)
# Scripted answers to message boxes and recorded texts, for the unit tests.
add_library(vellicor_scripted_ui STATIC ${CMAKE_SOURCE_DIR}/platform/host/scripted_ui.cpp)
target_link_libraries(vellicor_scripted_ui PUBLIC vellicor_core)

set(VELLICOR_SUBDIRS encode tools tests/unit tests/fuzz tests/long tests/e2e tests/build bench)
if(VELLICOR_SANITIZE)
  # Neither the stub, the benchmarks nor the longest test: they gain
  # nothing from sanitizers.
  list(REMOVE_ITEM VELLICOR_SUBDIRS tests/long tests/e2e tests/build bench)
endif()
foreach(dir ${VELLICOR_SUBDIRS})
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()
