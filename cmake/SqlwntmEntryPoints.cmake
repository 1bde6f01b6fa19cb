# The client library's entry points as client/sqlwntm.h tables them, for the build and for
# scripts run with cmake -P: the import list for Windows, the link stub, the import-table check.

# Each X(Name, ordinal, (parameters)) of the table as "Ordinal:Name:ArgumentBytes", in table
# order. ArgumentBytes is what __stdcall pops on 32-bit x86: every parameter the table uses
# takes 4 bytes. Comments are dropped first, and an entry that cannot be read stops the build,
# so that an edit to the table never leaves an entry point out of the import list unseen.
function(read_entry_points header out)
  file(READ ${header} text)
  string(REGEX REPLACE "/\\*([^*]|\\*+[^*/])*\\*+/" " " text "${text}")
  string(REGEX REPLACE "//[^\n]*" "" text "${text}")
  string(REGEX REPLACE "\\\\[ \t]*\n" " " text "${text}")
  string(REGEX MATCHALL "(^|[^A-Za-z0-9_])X\\([^,)\n]*" starts "${text}")
  string(REGEX MATCHALL "X\\([A-Za-z][A-Za-z0-9_]*,[ \t]*[0-9]+,[ \t]*\\([^)]*\\)\\)" items
         "${text}")
  list(LENGTH starts start_count)
  list(LENGTH items item_count)
  if(NOT start_count EQUAL item_count)
    message(FATAL_ERROR "${header}: ${start_count} entries begin with X( but ${item_count} read "
                        "as X(Name, ordinal, (parameters)): ${starts}")
  endif()
  set(entries "")
  foreach(item IN LISTS items)
    string(REGEX MATCH "X\\(([A-Za-z][A-Za-z0-9_]*),[ \t]*([0-9]+),[ \t]*\\(([^)]*)\\)\\)" _
           "${item}")
    set(name ${CMAKE_MATCH_1})
    set(ordinal ${CMAKE_MATCH_2})
    string(REPLACE "," ";" parameters "${CMAKE_MATCH_3}")
    set(bytes 0)
    foreach(parameter IN LISTS parameters)
      string(STRIP "${parameter}" parameter)
      if(parameter STREQUAL "void" AND bytes EQUAL 0)
        continue()
      endif()
      if(NOT parameter MATCHES "\\*|^(const )?u?int(8|16|32)_t [A-Za-z_0-9]+$")
        message(FATAL_ERROR "${header}: ${name}: no 32-bit argument size for '${parameter}'")
      endif()
      math(EXPR bytes "${bytes} + 4")
    endforeach()
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
