# The library's exports as exports/quillet_exports.h tables them, for the build and for scripts
# run with cmake -P: the Windows export list, and the declarations quillet.h must hold.

# C text with its comments dropped and its continued lines joined, as the compiler reads it.
function(quillet_read_c_text file out)
  file(READ ${file} text)
  string(REGEX REPLACE "\\\\[ \t]*\r?\n" " " text "${text}")
  string(REGEX REPLACE "/\\*([^*]|\\*+[^*/])*\\*+/" " " text "${text}")
  string(REGEX REPLACE "//[^\n]*" "" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# "type name" of one C parameter, spaced one way ("const char *list" is "const char* list"),
# in `out`; empty when the text does not end in a name.
function(quillet_parameter text out)
  string(REGEX REPLACE "[ \t\r\n]+" " " text "${text}")
  string(STRIP "${text}" text)
  set(${out} "" PARENT_SCOPE)
  if(text MATCHES "^(.*[^A-Za-z0-9_])([A-Za-z_][A-Za-z0-9_]*)$")
    set(name ${CMAKE_MATCH_2})
    string(REGEX REPLACE " *\\* *" "*" type "${CMAKE_MATCH_1}")
    string(STRIP "${type}" type)
    if(NOT type STREQUAL "")
      set(${out} "${type} ${name}" PARENT_SCOPE)
    endif()
  endif()
endfunction()

# Each X(Name, ordinal, ...) of the table as "Ordinal:Name", in table order, and for each
# QUILLET_SIGNATURE_<Name> set to its parameters, "type name" each, joined by "|". An entry that cannot be read stops the build, so that an edit to the
# table never leaves an export out of the export list unseen.
function(read_exports header out)
  quillet_read_c_text(${header} text)
  string(REGEX MATCHALL "(^|[^A-Za-z0-9_])X\\([^,)\n]*" starts "${text}")
  string(REGEX MATCHALL
         "X\\([A-Za-z][A-Za-z0-9_]*,[ \t]*[0-9]+,[ \t]*\\(([ \t]*\\([^()]*\\)[ \t]*,?)+[ \t]*\\)"
         items "${text}")
  list(LENGTH starts start_count)
  list(LENGTH items item_count)
  if(NOT start_count EQUAL item_count OR item_count EQUAL 0)
    message(FATAL_ERROR "${header}: ${start_count} entries begin with X( but ${item_count} read "
                        "as X(Name, ordinal, ((type, name), ...), folder): ${starts}")
  endif()
  set(entries "")
  foreach(item IN LISTS items)
    string(REGEX MATCH "X\\(([A-Za-z][A-Za-z0-9_]*),[ \t]*([0-9]+),[ \t]*\\((.*)\\)$" _
           "${item}")
    set(name ${CMAKE_MATCH_1})
    list(APPEND entries "${CMAKE_MATCH_2}:${name}")
    string(REGEX MATCHALL "\\([^()]*\\)" pairs "${CMAKE_MATCH_3}")
    set(signature "")
    foreach(pair IN LISTS pairs)
      string(REGEX REPLACE "^\\((.*),([^,]*)\\)$" "\\1 \\2" pair "${pair}")
      quillet_parameter("${pair}" parameter)
      if(parameter STREQUAL "")
        message(FATAL_ERROR "${header}: ${name}'s parameter ${pair} does not read as "
                            "(type, name)")
      endif()
      list(APPEND signature "${parameter}")
    endforeach()
    list(JOIN signature "|" signature)
    set(QUILLET_SIGNATURE_${name} "${signature}" PARENT_SCOPE)
  endforeach()
  set(${out} "${entries}" PARENT_SCOPE)
endfunction()

# The host header's declarations as "Name" in `names_out`, each one's parameters in
# QUILLET_DECLARED_<Name> ("type name" joined by "|"), and what cannot be read as an export in
# `problems_out`. The header is read as the compiler reads it: without comments or preprocessor
# lines, each declaration up to its ";" wherever its lines break.
function(read_export_declarations host_header names_out problems_out)
  quillet_read_c_text(${host_header} text)
  string(REGEX REPLACE "\n[ \t]*#[^\n]*" "\n" text "\n${text}")
  string(REGEX REPLACE "extern[ \t\r\n]*\"C\"[ \t\r\n]*{" " " text "${text}")
  string(REPLACE "}" " " text "${text}")
  string(REGEX REPLACE "[ \t\r\n]+" " " text "${text}")
  set(names "")
  set(problems "")
  # The text's ";" make it a list of statements; only function declarations concern exports.
  foreach(statement IN LISTS text)
    string(STRIP "${statement}" statement)
    if(NOT statement MATCHES "\\(")
      continue()
    endif()
    if(NOT statement MATCHES
       "^QUILLET_API int32_t QUILLET_CALL ([A-Za-z_][A-Za-z0-9_]*) ?\\(([^()]*)\\)$")
      list(APPEND problems
           "'${statement}' does not read as QUILLET_API int32_t QUILLET_CALL Name(parameters)")
      continue()
    endif()
    set(name ${CMAKE_MATCH_1})
    string(REPLACE "," ";" pieces "${CMAKE_MATCH_2}")
    set(signature "")
    set(position 0)
    foreach(piece IN LISTS pieces)
      math(EXPR position "${position} + 1")
      quillet_parameter("${piece}" parameter)
      if(parameter STREQUAL "")
        list(APPEND problems "${name}: parameter ${position} ('${piece}') has no name")
      endif()
      list(APPEND signature "${parameter}")
    endforeach()
    if(name IN_LIST names)
      list(APPEND problems "${name} is declared twice")
    endif()
    list(APPEND names ${name})
    list(JOIN signature "|" signature)
    set(QUILLET_DECLARED_${name} "${signature}" PARENT_SCOPE)
  endforeach()
  set(${names_out} "${names}" PARENT_SCOPE)
  set(${problems_out} "${problems}" PARENT_SCOPE)
endfunction()

# How the declaration differs from the table's entry, in words; empty when it does not.
function(quillet_signature_difference declared tabled out)
  string(REPLACE "|" ";" declared "${declared}")
  string(REPLACE "|" ";" tabled "${tabled}")
  list(LENGTH declared declared_count)
  list(LENGTH tabled tabled_count)
  set(difference "")
  if(NOT declared_count EQUAL tabled_count)
    set(difference "${declared_count} parameters in the header, ${tabled_count} in the table")
  else()
    set(position 0)
    foreach(parameter IN ZIP_LISTS declared tabled)
      math(EXPR position "${position} + 1")
      if(NOT parameter_0 STREQUAL parameter_1)
        string(CONCAT difference "parameter ${position} is '${parameter_0}' in the header, "
                      "'${parameter_1}' in the table")
        break()
      endif()
    endforeach()
  endif()
  set(${out} "${difference}" PARENT_SCOPE)
endfunction()

# Stops the build unless the host header declares exactly the table's exports, each with the
# table's parameters, types and names, in the table's order. The header's lines may break
# anywhere; quillet_exports.cpp holds the types to the table again when it compiles.
function(check_export_declarations table host_header)
  read_exports(${table} entries)
  read_export_declarations(${host_header} declared problems)
  set(tabled "")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^[0-9]+:" "" name "${entry}")
    list(APPEND tabled ${name})
    if(NOT name IN_LIST declared)
      list(APPEND problems "${name} is in the table but not declared")
      continue()
    endif()
    quillet_signature_difference("${QUILLET_DECLARED_${name}}" "${QUILLET_SIGNATURE_${name}}"
                                 difference)
    if(NOT difference STREQUAL "")
      list(APPEND problems "${name}: ${difference}")
    endif()
  endforeach()
  foreach(name IN LISTS declared)
    if(NOT name IN_LIST tabled)
      list(APPEND problems "${name} is declared but not in the table")
    endif()
  endforeach()
  if(problems)
    list(REMOVE_DUPLICATES problems)
    list(JOIN problems "\n  " problems)
    message(FATAL_ERROR "${host_header} differs from the export table ${table}:\n  ${problems}")
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
