# The Windows test build: GoogleTest compiled from Debian's sources with the cross compiler, the
# scripted fake built as SQLWNTM.dll, and every test program run under Wine.
set(QUILLET_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to cross-build")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${QUILLET_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# Test programs carry their runtime inside, as Quillet.dll does, so that Wine needs no MinGW
# DLL; they sit beside SQLWNTM.dll, where the loader looks first.
string(APPEND CMAKE_EXE_LINKER_FLAGS " -static")
string(APPEND CMAKE_SHARED_LINKER_FLAGS " -static")
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
add_subdirectory(fake_client_library)

# Wine in a prefix of the build tree's own, headless and quiet, with Quillet.dll's folder on
# the DLL search path.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/run_under_wine.sh
                                  ${CMAKE_BINARY_DIR}/wine-prefix ${PROJECT_BINARY_DIR})

# Each test program runs whole, one Wine start per program rather than one per case. The label
# makes ctest count the programs run under Wine in its closing summary.
function(gtest_discover_tests target)
  add_test(NAME ${target} COMMAND ${target})
  set_tests_properties(${target} PROPERTIES LABELS wine)
endfunction()
