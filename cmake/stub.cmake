# The stub: a freestanding 32-bit Windows executable of exactly 26,112 bytes
# (the payload of a self-extracting file starts at that offset). It links no
# C or C++ runtime: its own entry point, its own memory routines, and the
# import libraries of the four system DLLs it calls. Its first 16,384 bytes
# are data of the archive format (the context of the first stored file), so
# the build is reproducible: no time stamps, no paths, no version strings.
enable_language(RC)

set(STUB_SIZE 26112)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# The icon, drawn by a script of ours at build time.
set(STUB_ICON ${CMAKE_CURRENT_BINARY_DIR}/main_icon.ico)
add_custom_command(OUTPUT ${STUB_ICON}
  COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/res/make_icon.py ${STUB_ICON}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/res/make_icon.py
  COMMENT "Drawing the stub's icon"
  VERBATIM)
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/res/stub.rc PROPERTIES OBJECT_DEPENDS
  "${STUB_ICON};${CMAKE_CURRENT_SOURCE_DIR}/res/stub.manifest")

file(GLOB STUB_APP_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/app/*.cpp)
file(GLOB STUB_PLATFORM_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/platform/win32/*.cpp)

add_executable(vellicor_stub
  ${CORE_SOURCES} ${STUB_APP_SOURCES} ${STUB_PLATFORM_SOURCES}
  ${CMAKE_CURRENT_SOURCE_DIR}/res/stub.rc)
target_include_directories(vellicor_stub PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR})
set_target_properties(vellicor_stub PROPERTIES
  SUFFIX .exe
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# The stub decodes with the same code as the host (the linear-time code-tree
# build and the table lookup); only the host's extra speed-ups
# (VELLICOR_HOST_DECODER: 11-bit tables instead of 10, the block check eight
# bytes at a time, 16-byte match copies) are left out.
# Small code, no runtime support: no exceptions, no type information, no
# unwind tables, no guarded statics, no stack protector, no compiler
# identification strings. Frames beyond 4 KB would need stack probes: big
# buffers belong in the state record or on the heap.
target_compile_options(vellicor_stub PRIVATE
  $<$<COMPILE_LANGUAGE:CXX>:-Os -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-stack-protector -fno-ident
    -ffunction-sections -Wall -Wno-unused-parameter -Wframe-larger-than=4096
  $<$<EQUAL:${CMAKE_SIZEOF_VOID_P},4>:-mregparm=3 -U__stdcall
    "-D__stdcall=__attribute__((__stdcall__,__regparm__(0)))">>)
# -mregparm=3: the 32-bit build passes the first three integer arguments of
# its own functions in registers, as the 64-bit one does by its ABI. The flag
# would apply to __stdcall functions too, so __stdcall (behind WINAPI,
# CALLBACK and the COM methods of the system headers) is redefined to keep
# the system's convention: every system function and every callback the
# system calls takes its arguments on the stack. The compiler calls its own
# memory routines (ours, built with the same flag) in registers, and
# libgcc's helpers through their fixed stack convention.
# The shell and the stub's side of the seam (no hot path: the decoder and
# the file layer keep -Os) are compiled for the smallest code: every one of
# their functions is used, so they need no sections of their own (whose
# alignment would pad each), and the 32-bit build keeps its stack aligned to
# 4 bytes only (the window procedures and the entry align their own frames).
set_property(SOURCE ${STUB_APP_SOURCES} ${STUB_PLATFORM_SOURCES} APPEND PROPERTY COMPILE_OPTIONS
  -Oz -fno-function-sections $<$<EQUAL:${CMAKE_SIZEOF_VOID_P},4>:-mpreferred-stack-boundary=2>)
# The rest of the core outside the decoder (per entry, per block or once
# per run) likewise; the decoder keeps -Os.
set(STUB_SMALL_CORE_SOURCES ${CORE_SOURCES})
list(FILTER STUB_SMALL_CORE_SOURCES EXCLUDE REGEX "/decode/")
set_property(SOURCE ${STUB_SMALL_CORE_SOURCES} APPEND PROPERTY COMPILE_OPTIONS -Oz)
# The memory routines must not be turned back into calls of themselves.
set_property(SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/platform/win32/memory_routines.cpp APPEND PROPERTY
  COMPILE_OPTIONS -fno-builtin -fno-tree-loop-distribute-patterns)

# The entry point is the undecorated C name stubEntry: its symbol carries the
# one leading underscore of 32-bit C names, and none in the 64-bit test build.
# libgcc is linked last only for helpers the compiler may call (64-bit
# division, stack probes).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(STUB_ENTRY_SYMBOL stubEntry)
else()
  set(STUB_ENTRY_SYMBOL _stubEntry)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/stub_link_script.cmake)
set(CMAKE_CXX_STANDARD_LIBRARIES "")
set(CMAKE_C_STANDARD_LIBRARIES "")
target_link_options(vellicor_stub PRIVATE
  -nostdlib -s
  -Wl,--entry=${STUB_ENTRY_SYMBOL}
  -Wl,--subsystem,windows
  -Wl,--gc-sections
  -Wl,--no-insert-timestamp
  -Wl,-T,${STUB_LINK_SCRIPT}
  -Wl,-Map=${CMAKE_BINARY_DIR}/vellicor_stub.map
  $<$<EQUAL:${CMAKE_SIZEOF_VOID_P},4>:-Wl,--enable-stdcall-fixup>
  # The 64-bit test build is never shipped: it loads at its fixed base, and
  # the relocation table its larger code would have no room for is left out.
  $<$<EQUAL:${CMAKE_SIZEOF_VOID_P},8>:-Wl,--disable-dynamicbase,--disable-reloc-section>)
target_link_libraries(vellicor_stub PRIVATE kernel32 user32 gdi32 shell32 gcc)

# Fill the linked image with zero bytes up to the stub size; a larger image
# fails the build (and is removed, so that no wrong stub is ever used).
add_custom_command(TARGET vellicor_stub POST_BUILD
  COMMAND ${CMAKE_COMMAND} -DSTUB=$<TARGET_FILE:vellicor_stub> -DSTUB_SIZE=${STUB_SIZE}
          -DPYTHON=${Python3_EXECUTABLE} -P ${CMAKE_CURRENT_LIST_DIR}/pad_stub.cmake
  VERBATIM)

# The end-to-end test driver is built beside the stub with the same compiler.
include(${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e/driver.cmake OPTIONAL)
