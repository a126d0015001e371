# Pads the linked stub with zero bytes to exactly STUB_SIZE bytes and sets
# its header checksum to 0.
#   cmake -DSTUB=<exe> -DSTUB_SIZE=<bytes> -DPYTHON=<python3> -P pad_stub.cmake
# The bytes behind the last section are not loaded; they only give the stub
# its fixed length, at which the payload of a self-extracting file begins.
# A linked image larger than STUB_SIZE fails with a message and is removed.
foreach(var STUB STUB_SIZE PYTHON)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "pad_stub.cmake: ${var} is not set")
  endif()
endforeach()

file(SIZE "${STUB}" linked)
math(EXPR room "${STUB_SIZE} - ${linked}")
if(linked GREATER STUB_SIZE)
  file(REMOVE "${STUB}")
  message(FATAL_ERROR
    "The linked stub has ${linked} bytes, ${STUB_SIZE} at most are allowed "
    "(${room} bytes): the stub no longer fits its fixed size. Make the code "
    "smaller; the size cannot grow, because archives start at byte ${STUB_SIZE}.")
endif()
message(STATUS "Stub: ${linked} bytes linked, ${room} bytes to spare; padded to ${STUB_SIZE}")

# Opening for update and truncating to a larger size appends zero bytes.
# The header's checksum becomes 0 (none; the loader does not check it for a
# program), like the security entry. Signing rewrites both fields, and the
# reader of a signed file puts back these fixed values for head slot 0; the
# linker's own checksum (of the unpadded image) would change with the code.
execute_process(
  COMMAND "${PYTHON}" -c "
import struct, sys
f = open(sys.argv[1], 'r+b')
f.truncate(int(sys.argv[2]))
f.seek(0x3c)
f.seek(struct.unpack('<I', f.read(4))[0] + 24 + 64)
f.write(bytes(4))
f.close()"
          "${STUB}" "${STUB_SIZE}"
  RESULT_VARIABLE result)
file(SIZE "${STUB}" padded)
if(NOT result EQUAL 0 OR NOT padded EQUAL STUB_SIZE)
  file(REMOVE "${STUB}")
  message(FATAL_ERROR "Padding the stub to ${STUB_SIZE} bytes failed (${result}, ${padded} bytes)")
endif()
