# cmake -DSOURCE=… -DSTUB=<the build's stub> -DWORK=<scratch folder> -DOBJDUMP=… -P stub_reproducible.cmake
# Builds the stub from nothing in a folder of another name and compares.
file(REMOVE_RECURSE ${WORK})
set(other ${WORK}/another-folder-name)
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${other}
          -DCMAKE_TOOLCHAIN_FILE=${SOURCE}/cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel
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

if(OBJDUMP)
  execute_process(COMMAND ${OBJDUMP} -p ${STUB} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  string(REGEX MATCHALL "DLL Name: [^\n]*" dlls "${dump}")
  foreach(line ${dlls})
    string(REGEX REPLACE "DLL Name: *" "" dll "${line}")
    string(TOLOWER "${dll}" dll)
    if(NOT dll MATCHES "^(kernel32|user32|gdi32|shell32)\\.dll$")
      message(FATAL_ERROR "the stub imports from ${dll}")
    endif()
  endforeach()
  message(STATUS "imports: ${dlls}")
endif()
message(STATUS "the stub is 26,112 bytes and the same from a clean build in another folder (${first})")
file(REMOVE_RECURSE ${WORK})
