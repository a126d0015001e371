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
