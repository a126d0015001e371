# vellicor.exe: the same command-line program for x86_64 Windows, from the
# same sources as the host's (core, encoder, tools); only the system sides
# differ: platform/host_windows for the core's seam, tools/windows for the
# program's. The host build makes it through the toolchain of
# cmake/mingw-x86_64-tool.cmake as an external project, into
# build/windows/vellicor.exe, embedding the stub of the host build, so that
# both programs write the same archives.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  message(FATAL_ERROR "vellicor.exe is built for x86_64 Windows")
endif()
if(NOT VELLICOR_EMBED_STUB)
  message(FATAL_ERROR "the Windows program is built by the host build, which names the stub (VELLICOR_EMBED_STUB)")
endif()

add_compile_options(-Wall -Wextra -Wno-unused-parameter)
# The optimisation of the host build (-O2), not the release default -O3.
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG")
# Windows 7 and later: the wide calls with long paths, CancelSynchronousIo,
# the basic directory listing.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)
# One file that runs on a bare Windows: the C++ runtime, libgcc and the
# threads library inside it; the build leaves no path or time stamp in it.
add_link_options(-static -s -Wl,--no-insert-timestamp)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

file(GLOB HOST_WINDOWS_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/host_windows/*.cpp)
add_library(vellicor_core STATIC ${CORE_SOURCES} ${HOST_WINDOWS_SOURCES})
target_include_directories(vellicor_core PUBLIC ${CMAKE_SOURCE_DIR})
# The decoder's host-only speed-ups, as in the host build.
target_compile_definitions(vellicor_core PUBLIC VELLICOR_HOST_DECODER=1)

add_subdirectory(encode)
add_subdirectory(tools)

# Checks of the Windows names that trees on disk reach only by chance,
# run under Wine by tests/windows/run_windows_tool.py.
add_executable(wide_names_check ${CMAKE_SOURCE_DIR}/tests/windows/wide_names_check.cpp)
target_link_libraries(wide_names_check PRIVATE vellicor_core)

# vellicor-maker.exe: the creator in a window (tools/maker), from the same
# sources and the same packing engine, with the stub's icon as its own.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
enable_language(RC)
set(MAKER_ICON ${CMAKE_BINARY_DIR}/main_icon.ico)
add_custom_command(OUTPUT ${MAKER_ICON}
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/res/make_icon.py ${MAKER_ICON}
  DEPENDS ${CMAKE_SOURCE_DIR}/res/make_icon.py)
set_source_files_properties(${CMAKE_SOURCE_DIR}/res/maker.rc PROPERTIES OBJECT_DEPENDS ${MAKER_ICON})
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_BINARY_DIR}")
add_executable(vellicor-maker WIN32 ${CMAKE_SOURCE_DIR}/tools/maker/maker.cpp ${CMAKE_SOURCE_DIR}/tools/maker/maker_core_ui.cpp ${CMAKE_SOURCE_DIR}/tools/embedded_stub.cpp
  ${CMAKE_SOURCE_DIR}/res/maker.rc)
target_link_libraries(vellicor-maker PRIVATE vellicor_pack vellicor_encode vellicor_core comdlg32 shell32 ole32 gdi32 user32)
target_link_options(vellicor-maker PRIVATE -municode)
target_include_directories(vellicor-maker PRIVATE ${CMAKE_SOURCE_DIR})
set_source_files_properties(${CMAKE_SOURCE_DIR}/tools/embedded_stub.cpp TARGET_DIRECTORY vellicor-maker PROPERTIES
  COMPILE_DEFINITIONS "VELLICOR_EMBEDDED_STUB=\"${VELLICOR_EMBED_STUB}\""
  OBJECT_DEPENDS ${VELLICOR_EMBED_STUB})
