# The client library's entry points as client/sqlwntm.h tables them, for the build and for
# scripts run with cmake -P: the import list for Windows, the link stub, the import-table check.

# Each X(Name, ordinal, (parameters)) of the table as "Ordinal:Name:ArgumentBytes", in table
# order. ArgumentBytes is what __stdcall pops on 32-bit x86: every parameter takes 4 bytes.
function(read_entry_points header out)
  file(READ ${header} text)
  string(REGEX REPLACE "\\\\\n" " " text "${text}")
  string(REGEX MATCHALL "X\\([A-Za-z]+, *[0-9]+, *\\([^)]*\\)\\)" items "${text}")
  set(entries "")
  foreach(item IN LISTS items)
    string(REGEX MATCH "X\\(([A-Za-z]+), *([0-9]+), *\\(([^)]*)\\)\\)" _ "${item}")
    set(name ${CMAKE_MATCH_1})
    set(ordinal ${CMAKE_MATCH_2})
    string(REGEX MATCHALL "," commas "${CMAKE_MATCH_3}")
    list(LENGTH commas comma_count)
    math(EXPR bytes "4 * (${comma_count} + 1)")
    list(APPEND entries "${ordinal}:${name}:${bytes}")
  endforeach()
  list(LENGTH entries count)
  if(count EQUAL 0)
    message(FATAL_ERROR "${header} tables no entry point")
  endif()
  set(${out} "${entries}" PARENT_SCOPE)
endfunction()

# Writes the module-definition file of SQLWNTM.dll: every entry point by ordinal alone, with
# the __stdcall decoration the compiler gives the name.
function(write_sqlwntm_def header output)
  read_entry_points(${header} entries)
  set(lines "")
  foreach(entry IN LISTS entries)
    string(REPLACE ":" ";" parts "${entry}")
    list(GET parts 0 ordinal)
    list(GET parts 1 name)
    list(GET parts 2 bytes)
    string(APPEND lines "  sqlwntm_${name}@${bytes} @${ordinal} NONAME\n")
  endforeach()
  file(CONFIGURE OUTPUT ${output} CONTENT [[
; Generated from client/sqlwntm.h: the import list of SQLWNTM.dll, every entry point by ordinal
; alone (__stdcall, argument bytes after @).
LIBRARY SQLWNTM.dll
EXPORTS
@lines@]] @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${header})
endfunction()
