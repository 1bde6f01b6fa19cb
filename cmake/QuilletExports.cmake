# The library's exports as exports/quillet_exports.h tables them, for the build and for scripts
# run with cmake -P: the Windows export list, and the names quillet.h must declare.

# Each X(Name, ordinal, ...) of the table as "Ordinal:Name", in table order. Comments are
# dropped first, and an entry that cannot be read stops the build, so that an edit to the table
# never leaves an export out of the export list unseen.
function(read_exports header out)
  file(READ ${header} text)
  string(REGEX REPLACE "/\\*([^*]|\\*+[^*/])*\\*+/" " " text "${text}")
  string(REGEX REPLACE "//[^\n]*" "" text "${text}")
  string(REGEX REPLACE "\\\\[ \t]*\n" " " text "${text}")
  string(REGEX MATCHALL "(^|[^A-Za-z0-9_])X\\([^,)\n]*" starts "${text}")
  string(REGEX MATCHALL "X\\([A-Za-z][A-Za-z0-9_]*,[ \t]*[0-9]+,[ \t]*\\(" items "${text}")
  list(LENGTH starts start_count)
  list(LENGTH items item_count)
  if(NOT start_count EQUAL item_count OR item_count EQUAL 0)
    message(FATAL_ERROR "${header}: ${start_count} entries begin with X( but ${item_count} read "
                        "as X(Name, ordinal, (parameters), folder): ${starts}")
  endif()
  set(entries "")
  foreach(item IN LISTS items)
    string(REGEX MATCH "X\\(([A-Za-z][A-Za-z0-9_]*),[ \t]*([0-9]+)," _ "${item}")
    list(APPEND entries "${CMAKE_MATCH_2}:${CMAKE_MATCH_1}")
  endforeach()
  set(${out} "${entries}" PARENT_SCOPE)
endfunction()

# Stops the build unless the host header declares exactly the table's exports by name;
# quillet_exports.cpp holds each declaration's types to the table when it compiles.
function(check_export_declarations table host_header)
  read_exports(${table} entries)
  set(tabled "")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^[0-9]+:" "" name "${entry}")
    list(APPEND tabled ${name})
  endforeach()
  file(READ ${host_header} text)
  string(REGEX REPLACE "/\\*([^*]|\\*+[^*/])*\\*+/" " " text "${text}")
  # A declaration starts its line with QUILLET_API; the macro's own definitions do not.
  string(REGEX MATCHALL "\nQUILLET_API[ \t][^;(#]*[ \t*][A-Za-z_][A-Za-z0-9_]*\\(" found
         "${text}")
  set(declared "")
  foreach(declaration IN LISTS found)
    string(REGEX MATCH "([A-Za-z_][A-Za-z0-9_]*)\\($" _ "${declaration}")
    list(APPEND declared ${CMAKE_MATCH_1})
  endforeach()
  list(SORT tabled)
  list(SORT declared)
  if(NOT tabled STREQUAL declared)
    set(only_declared ${declared})
    list(REMOVE_ITEM only_declared ${tabled})
    set(only_tabled ${tabled})
    list(REMOVE_ITEM only_tabled ${declared})
    message(FATAL_ERROR "${host_header} and the export table ${table} differ: declared only in "
                        "the header: '${only_declared}'; tabled only: '${only_tabled}'")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${table} ${host_header})
endfunction()

# Writes the module-definition file of Quillet.dll: every export by name and ordinal.
function(write_quillet_def table output)
  read_exports(${table} entries)
  set(lines "")
  foreach(entry IN LISTS entries)
    string(REPLACE ":" ";" parts "${entry}")
    list(GET parts 0 ordinal)
    list(GET parts 1 name)
    string(APPEND lines "  ${name} @${ordinal}\n")
  endforeach()
  file(CONFIGURE OUTPUT ${output} CONTENT [[
; Generated from exports/quillet_exports.h: the exports of Quillet.dll, plain C names, ordinals
; 1 to 17 in alphabetical order.
LIBRARY Quillet.dll
EXPORTS
@lines@]] @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${table})
endfunction()
