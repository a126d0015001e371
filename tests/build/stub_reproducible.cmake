# cmake -DSOURCE=… -DSTUB=<the build's stub> -DTOOLCHAIN=<toolchain file> -DENTRY=<entry name>
#       -DWORK=<scratch folder> -DOBJDUMP=… -P stub_reproducible.cmake
# Builds the stub from nothing in a folder of another name and compares; then
# checks the size, the imported DLLs and that the image starts at the entry
# function (its address read from the link map beside the stub, which names
# it without the leading underscore of 32-bit C symbols).
file(REMOVE_RECURSE ${WORK})
set(other ${WORK}/another-folder-name)
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${other}
          -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DCMAKE_BUILD_TYPE=MinSizeRel
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "configuring the second stub build failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${other} --target vellicor_stub
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the second stub build failed")
endif()

file(SIZE ${STUB} size)
if(NOT size EQUAL 26112)
  message(FATAL_ERROR "${STUB} is ${size} bytes, not 26,112")
endif()
file(SHA256 ${STUB} first)
file(SHA256 ${other}/vellicor_stub.exe second)
if(NOT first STREQUAL second)
  message(FATAL_ERROR "two clean builds of the stub differ:\n  ${STUB} ${first}\n  ${other}/vellicor_stub.exe ${second}")
endif()

execute_process(COMMAND ${OBJDUMP} -p ${STUB} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} cannot read ${STUB}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]*" dlls "${dump}")
foreach(line ${dlls})
  string(REGEX REPLACE "DLL Name: *" "" dll "${line}")
  string(TOLOWER "${dll}" dll)
  if(NOT dll MATCHES "^(kernel32|user32|gdi32|shell32)\\.dll$")
    message(FATAL_ERROR "the stub imports from ${dll}")
  endif()
endforeach()
message(STATUS "imports: ${dlls}")

# The entry point: ImageBase + AddressOfEntryPoint must be the address that
# the link map gives the entry symbol.
string(REGEX MATCH "AddressOfEntryPoint[ \t]+([0-9a-fA-F]+)" _ "${dump}")
set(rva ${CMAKE_MATCH_1})
string(REGEX MATCH "ImageBase[ \t]+([0-9a-fA-F]+)" _ "${dump}")
set(base ${CMAKE_MATCH_1})
get_filename_component(dir ${STUB} DIRECTORY)
file(STRINGS ${dir}/vellicor_stub.map mapped REGEX "^ +0x[0-9a-fA-F]+ +${ENTRY}$")
if(NOT rva OR NOT base OR NOT mapped)
  message(FATAL_ERROR "cannot find the entry point (${rva}, ${base}) or ${ENTRY} in the link map")
endif()
string(REGEX REPLACE "^ +0x0*([0-9a-fA-F]+) .*" "\\1" symbol "${mapped}")
math(EXPR entry "0x${base} + 0x${rva}" OUTPUT_FORMAT HEXADECIMAL)
math(EXPR symbol "0x${symbol}" OUTPUT_FORMAT HEXADECIMAL)
if(NOT entry EQUAL symbol)
  message(FATAL_ERROR "the stub starts at ${entry}, but ${ENTRY} is at ${symbol}")
endif()
# A signed self-extracting file gives head slot 0 back the unsigned header
# values that the core restores: checksum 0 and no security entry.
string(REGEX MATCH "CheckSum[ \t]+([0-9a-fA-F]+)" _ "${dump}")
set(checksum "${CMAKE_MATCH_1}")
string(REGEX MATCH "Entry 4 ([0-9a-fA-F]+ [0-9a-fA-F]+) Security" _ "${dump}")
set(security "${CMAKE_MATCH_1}")
if(NOT checksum MATCHES "^0+$" OR NOT security MATCHES "^0+ 0+$")
  message(FATAL_ERROR "the stub's header checksum (${checksum}) or security entry (${security}) "
                      "is not 0: a signed copy would not decode its first file as the creator coded it")
endif()

message(STATUS "the stub is 26,112 bytes, the same from a clean build in another folder (${first}), "
               "imports only the four system DLLs and starts at ${ENTRY}")
file(REMOVE_RECURSE ${WORK})
