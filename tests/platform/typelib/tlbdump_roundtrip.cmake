# Round trip of a type library through tlbdump and widl:
#   tlbdump LIBRARY > first.idl; widl first.idl -> again.tlb;
#   tlbdump again.tlb > second.idl; first.idl and second.idl must agree
#   (apart from the first line, which names the file dumped, and the
#   comments that number the types).
#   cmake -DTLBDUMP=... -DWIDL=... -DIDL_DIR=... -DTLB_DIR=... -DLIBRARY=... -DWORK=... -P tlbdump_roundtrip.cmake
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${TLBDUMP} ${LIBRARY} OUTPUT_FILE ${WORK}/first.idl RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "tlbdump ${LIBRARY} failed: ${rc}")
endif()
execute_process(COMMAND ${WIDL} --nostdinc --win32 -I ${IDL_DIR} -L ${TLB_DIR} -t -o ${WORK}/again.tlb ${WORK}/first.idl
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "widl does not accept the dump: ${err}")
endif()
execute_process(COMMAND ${TLBDUMP} ${WORK}/again.tlb OUTPUT_FILE ${WORK}/second.idl RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "tlbdump of the rebuilt library failed: ${rc}")
endif()
file(STRINGS ${WORK}/first.idl first)
file(STRINGS ${WORK}/second.idl second)
list(REMOVE_AT first 0)
list(REMOVE_AT second 0)
# The index comments follow the rebuilt library's order, which puts
# enumerations and records first.
list(FILTER first EXCLUDE REGEX "/\\* type [0-9]+ \\*/")
list(FILTER second EXCLUDE REGEX "/\\* type [0-9]+ \\*/")
if(NOT first STREQUAL second)
  message(FATAL_ERROR "the rebuilt library differs: compare ${WORK}/first.idl and ${WORK}/second.idl")
endif()
