# The CSV export's cells must take the sixteen-byte scan in Quillet.dll, not the eight-byte one
# a build without SSE2 falls back to: some function of the library compares bytes sixteen at a
# time (pcmpeqb) and gathers their marks (pmovmskb). Neither comes from the compiler's own
# loops here, nor from the runtime linked in, which is built without SSE2.
# cmake -DOBJDUMP=... -DMODULE=Quillet.dll -P check_sse2_scanner.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${MODULE} OUTPUT_VARIABLE code
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -d ${MODULE} failed: ${result}")
endif()
# Each function of the library, from its label (a mangled name in namespace quillet) to the next.
string(REGEX MATCHALL "<__ZN7quillet[^>]*>:\n([^<]|<[^\n]*>[^:])*" functions "${code}")
set(scanners "")
foreach(function IN LISTS functions)
  if(function MATCHES "\tpcmpeqb " AND function MATCHES "\tpmovmskb ")
    string(REGEX MATCH "^<[^>]*>" name "${function}")
    list(APPEND scanners ${name})
  endif()
endforeach()
list(LENGTH functions count)
if(count EQUAL 0)
  message(FATAL_ERROR "${MODULE}: no function of the library found; is it stripped?")
endif()
if(scanners STREQUAL "")
  message(FATAL_ERROR "${MODULE}: no function of the library scans with SSE2 (${count} read)")
endif()
message(STATUS "SSE2 scan in ${scanners}")
