# The end-to-end test driver (tests/e2e/driver): a Win32 console program that
# runs beside the stub under Wine. It is built with the stub's cross compiler
# but on a command line of its own, so the stub's freestanding compile and
# link settings never reach it; it uses the ordinary mingw C runtime.
set(E2E_DRIVER_SRC ${CMAKE_CURRENT_LIST_DIR}/driver/e2e_driver.cpp)
set(E2E_DRIVER_EXE ${CMAKE_BINARY_DIR}/e2e_driver.exe)
add_custom_command(OUTPUT ${E2E_DRIVER_EXE}
  COMMAND ${CMAKE_CXX_COMPILER} -std=c++17 -O2 -s -Wall -Wextra -Wno-unused-parameter
          -static -static-libgcc -static-libstdc++
          -o ${E2E_DRIVER_EXE} ${E2E_DRIVER_SRC} -luser32 -lgdi32 -lshell32
  DEPENDS ${E2E_DRIVER_SRC}
  COMMENT "Building the end-to-end test driver e2e_driver.exe"
  VERBATIM)
add_custom_target(e2e_driver ALL DEPENDS ${E2E_DRIVER_EXE})

# The marker program of the launch cases (marker/marker.cpp): packed into an
# archive as the file the stub opens after extraction.
set(E2E_MARKER_SRC ${CMAKE_CURRENT_LIST_DIR}/marker/marker.cpp)
set(E2E_MARKER_EXE ${CMAKE_BINARY_DIR}/e2e_marker.exe)
add_custom_command(OUTPUT ${E2E_MARKER_EXE}
  COMMAND ${CMAKE_CXX_COMPILER} -O2 -s -Wall -Wextra -Wno-unused-parameter -mwindows
          -static -static-libgcc -o ${E2E_MARKER_EXE} ${E2E_MARKER_SRC}
  DEPENDS ${E2E_MARKER_SRC}
  COMMENT "Building the launch cases' marker program e2e_marker.exe"
  VERBATIM)
add_custom_target(e2e_marker ALL DEPENDS ${E2E_MARKER_EXE})
