# The stub's linker script: the toolchain's own default script, with the
# constant data (.rdata: the texts, the decoder's tables) placed at the end
# of .text instead of in a section of its own. Both are read-only; one
# section fewer saves the padding of one section to the file alignment,
# which the fixed size of the stub needs. Sets STUB_LINK_SCRIPT.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-prog-name=ld
                OUTPUT_VARIABLE stub_ld OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${stub_ld} --verbose OUTPUT_VARIABLE stub_ld_verbose RESULT_VARIABLE stub_ld_rc)
string(REGEX MATCH "\n=+\n(.*)\n=+" stub_ld_match "${stub_ld_verbose}")
set(stub_script "${CMAKE_MATCH_1}")
set(stub_rdata_inputs "[ \t]*\\*\\(\\.rdata\\)[ \t\n]*\\*\\(SORT\\(\\.rdata\\$\\*\\)\\)\n")
string(REGEX MATCHALL "${stub_rdata_inputs}" stub_found "${stub_script}")
list(LENGTH stub_found stub_found_count)
string(FIND "${stub_script}" "     *(.text.*)\n" stub_text_at)
if(NOT stub_ld_rc EQUAL 0 OR NOT stub_found_count EQUAL 1 OR stub_text_at LESS 0)
  message(FATAL_ERROR "cannot derive the stub's linker script from the default script of ${stub_ld}")
endif()
string(REGEX REPLACE "${stub_rdata_inputs}" "" stub_script "${stub_script}")
string(REPLACE "     *(.text.*)\n" "     *(.text.*)\n    *(.rdata)\n    *(SORT(.rdata$*))\n" stub_script
       "${stub_script}")
set(STUB_LINK_SCRIPT ${CMAKE_BINARY_DIR}/vellicor_stub.ld)
file(WRITE ${STUB_LINK_SCRIPT} "${stub_script}\n")
