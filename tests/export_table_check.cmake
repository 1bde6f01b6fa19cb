# quillet.h and the export table cannot drift apart unseen: a declaration added to or dropped
# from the header, or one whose parameters differ from the table's in type, name or order,
# stops the configure step, one whose types differ stops the compile of the exports too, and an
# entry the reader cannot read stops the export list's generation.
# cmake -DSOURCE_DIR=... -DCXX=c++ -DWORK=scratch-folder -P export_table_check.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/QuilletExports.cmake)
set(table ${SOURCE_DIR}/exports/quillet_exports.h)
set(header ${SOURCE_DIR}/include/quillet.h)

if(DEFINED CHECK_HEADER)
  check_export_declarations(${CHECK_TABLE} ${CHECK_HEADER})
  return()
endif()

file(MAKE_DIRECTORY ${WORK}/include)
file(READ ${header} header_text)
file(READ ${table} table_text)
set(failures "")

# Records a failure unless the step `name` stopped exactly when `stops` is TRUE.
macro(expect name stops result)
  if(result EQUAL 0 AND stops)
    string(APPEND failures "\n  ${name}: not stopped")
  elseif(NOT result EQUAL 0 AND NOT stops)
    string(APPEND failures "\n  ${name}: stopped (${result})")
  endif()
endmacro()

# The header with `from` replaced by `to`, and the table with `table_from` replaced by
# `table_to`, checked in a cmake of their own.
function(expect_configure name stops from to table_from table_to)
  string(REPLACE "${from}" "${to}" edited_header "${header_text}")
  string(REPLACE "${table_from}" "${table_to}" edited_table "${table_text}")
  file(WRITE ${WORK}/${name}_quillet.h "${edited_header}")
  file(WRITE ${WORK}/${name}_exports.h "${edited_table}")
  execute_process(COMMAND ${CMAKE_COMMAND} -DCHECK_HEADER=${WORK}/${name}_quillet.h
                          -DCHECK_TABLE=${WORK}/${name}_exports.h
                          -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
                  RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
  expect(${name} ${stops} ${result})
  set(failures "${failures}" PARENT_SCOPE)
endfunction()

set(terminate "QUILLET_API int32_t QUILLET_CALL TerminateServer(const char* server, const char* password);")
set(pause "QUILLET_API int32_t QUILLET_CALL PauseServer(const char* server, const char* password);")
expect_configure(unchanged FALSE "${terminate}" "${terminate}" "X(DirDB, 4," "X(DirDB, 4,")
expect_configure(declared_only TRUE "${terminate}" "${terminate}\n${pause}" "" "")
expect_configure(tabled_only TRUE "${terminate}" "" "" "")
expect_configure(unreadable_entry TRUE "" "" "X(DirDB, 4," "X(DirDB 4,")
# Read as the compiler reads it: lines broken anywhere, indented, commented, spaced otherwise.
expect_configure(reformatted FALSE "${terminate}"
                 "  QUILLET_API int32_t\n    QUILLET_CALL TerminateServer(const char *server, // who\n  const char * password);"
                 "" "")
expect_configure(declared_only_split TRUE "${terminate}"
                 "${terminate}\n  QUILLET_API int32_t QUILLET_CALL\n  PauseServer(const char* server);"
                 "" "")
expect_configure(declared_without_api TRUE "${terminate}"
                 "int32_t QUILLET_CALL TerminateServer(const char* server, const char* password);"
                 "" "")
# Two parameters of one type swapped, in the header or in the table; a name changed.
set(snapshot "(int32_t flag, const char* server, const char* password,")
expect_configure(swapped_in_header TRUE "${snapshot}"
                 "(int32_t flag, const char* password, const char* server," "" "")
expect_configure(swapped_in_table TRUE "" "" "(const char*, server), (const char*, password),"
                 "(const char*, password), (const char*, server),")
expect_configure(renamed_parameter TRUE "int32_t process)" "int32_t pid)" "" "")

# A parameter's type changed in the header alone: the exports no longer compile.
foreach(case IN ITEMS "unchanged|FALSE|int32_t process)" "parameter_type|TRUE|int16_t process)")
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 name)
  list(GET parts 1 stops)
  list(GET parts 2 process)
  string(REPLACE "int32_t process)" "${process}" text "${header_text}")
  file(WRITE ${WORK}/include/quillet.h "${text}")
  execute_process(COMMAND ${CXX} -std=c++17 -fsyntax-only -I${WORK}/include -I${SOURCE_DIR}
                          ${SOURCE_DIR}/exports/quillet_exports.cpp
                  RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
  expect(compile_${name} ${stops} ${result})
endforeach()

if(NOT failures STREQUAL "")
  message(FATAL_ERROR "export table:${failures}")
endif()
