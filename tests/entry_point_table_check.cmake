# The reading of the entry-point table that the Windows import list is generated from: edits a
# maintainer may make read the same, and an entry it cannot read stops the build instead of
# leaving the entry point out of the import list.
# cmake -DENTRY_POINTS=client/sqlwntm.h -DWORK=scratch-folder -P entry_point_table_check.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/SqlwntmEntryPoints.cmake)

if(DEFINED READ_ONLY)
  read_entry_points(${READ_ONLY} entries)
  return()
endif()

file(READ ${ENTRY_POINTS} table)
read_entry_points(${ENTRY_POINTS} expected)
list(LENGTH expected count)
if(NOT count EQUAL 28)
  message(FATAL_ERROR "the table reads as ${count} entry points, not 28: ${expected}")
endif()
file(MAKE_DIRECTORY ${WORK})
set(failures "")

# Writes the table with `from` replaced by `to` and reads it in a cmake of its own.
function(read_edited name from to out_result out_entries)
  string(FIND "${table}" "${from}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${name}: the table has no '${from}'")
  endif()
  string(REPLACE "${from}" "${to}" edited "${table}")
  file(WRITE ${WORK}/${name}.h "${edited}")
  execute_process(COMMAND ${CMAKE_COMMAND} -DREAD_ONLY=${WORK}/${name}.h
                          -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE} RESULT_VARIABLE result
                  OUTPUT_QUIET ERROR_QUIET)
  set(${out_result} ${result} PARENT_SCOPE)
  if(result EQUAL 0)
    read_entry_points(${WORK}/${name}.h entries)
    set(${out_entries} "${entries}" PARENT_SCOPE)
  endif()
endfunction()

set(disconnect "  X(Disconnect, 106, (uint16_t handle))")

# Read as the table is: an old entry kept in a comment, a comment with commas among the
# parameters, a line ending in a backslash and a blank, a tab after a comma.
foreach(case IN ITEMS
        "commented_entry|${disconnect}|  /* was X(Disconnect, 105, (uint16_t handle)) */ \\\n${disconnect}"
        "parameter_comment|(uint16_t handle, int32_t process)|(uint16_t handle, int32_t process /* 1, 2 */)"
        "backslash_blank|  X(Disconnect, 106,|  X(Disconnect, \\ \n    106,"
        "tab|  X(Disconnect, 106,|  X(Disconnect,\t106,")
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 name)
  list(GET parts 1 from)
  list(GET parts 2 to)
  read_edited(${name} "${from}" "${to}" result entries)
  if(NOT result EQUAL 0)
    string(APPEND failures "\n  ${name}: the build would stop")
  elseif(NOT entries STREQUAL expected)
    string(APPEND failures "\n  ${name}: read as ${entries}")
  endif()
endforeach()

# No parameters at all: nothing for __stdcall to pop.
read_edited(no_parameters "${disconnect}" "${disconnect} \\\n  X(Ping, 200, (void))" result entries)
if(NOT result EQUAL 0 OR NOT "200:Ping:0" IN_LIST entries)
  string(APPEND failures "\n  no_parameters: read as ${entries} (${result})")
endif()

# Stop the build: a missing comma, a parameter the reader cannot size, one wider than 4 bytes.
foreach(case IN ITEMS
        "missing_comma|X(Disconnect, 106,|X(Disconnect 106,"
        "function_pointer|${disconnect}|  X(Disconnect, 106, (uint16_t handle, void (*done)(int)))"
        "wide_parameter|int32_t process)|int64_t process)")
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 name)
  list(GET parts 1 from)
  list(GET parts 2 to)
  read_edited(${name} "${from}" "${to}" result entries)
  if(result EQUAL 0)
    string(APPEND failures "\n  ${name}: read without complaint as ${entries}")
  endif()
endforeach()

if(NOT failures STREQUAL "")
  message(FATAL_ERROR "entry-point table:${failures}")
endif()
