# Each "Name @Ordinal" line of a module-definition (.def) file, as "Ordinal:Name", in the
# file's order. Used at configure time and by scripts run with cmake -P.
function(read_def file out)
  file(STRINGS ${file} lines REGEX "^[ \t]+[A-Za-z_][A-Za-z0-9_@]*[ \t]+@[0-9]+")
  set(entries "")
  foreach(line IN LISTS lines)
    string(REGEX MATCH "([A-Za-z_][A-Za-z0-9_@]*)[ \t]+@([0-9]+)" _ "${line}")
    list(APPEND entries "${CMAKE_MATCH_2}:${CMAKE_MATCH_1}")
  endforeach()
  set(${out} "${entries}" PARENT_SCOPE)
endfunction()
