# quillet.exe plan check, run (twice, keep_last = 1) and list over Quillet.dll and the scripted
# SQLWNTM.dll: the run writes a manifest whose SHA-256 is the file's, and retention keeps the
# newest generation alone. cmake -DEMULATOR=... -DQUILLET=quillet.exe -DSCRATCH=folder -P this
set(scratch ${SCRATCH})
file(REMOVE_RECURSE ${scratch})
file(MAKE_DIRECTORY ${scratch})
file(WRITE ${scratch}/plan.toml
     "snapshot_root = \"backups\"\n[retention]\nkeep_last = 1\nmin_keep = 1\n"
     "[[servers]]\nname = \"ACME\"\npassword_env = \"ACME_PW\"\ndatabases = [\"*\"]\n")

# From the folder of SQLWNTM.dll, where the loader finds it.
get_filename_component(folder ${scratch} DIRECTORY)
get_filename_component(plan ${scratch} NAME)
set(plan ${plan}/plan.toml)
function(quillet expected)
  execute_process(COMMAND ${EMULATOR} ${QUILLET} ${ARGN} WORKING_DIRECTORY ${folder}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL expected)
    message(FATAL_ERROR "quillet ${ARGN}: exit ${status}, not ${expected}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

quillet(0 plan check ${plan})
quillet(0 plan run ${plan} --format json)
string(JSON first GET "${out}" servers 0 databases 0 generation)
quillet(0 plan run ${plan} --format json)
string(JSON second GET "${out}" servers 0 databases 0 generation)
if(first STREQUAL second)
  message(FATAL_ERROR "two runs made one generation, ${first}")
endif()

quillet(0 plan list ${plan} --format json)
string(JSON rows LENGTH "${out}")
string(JSON kept GET "${out}" 0 generation)
if(NOT rows EQUAL 1 OR NOT kept STREQUAL second)
  message(FATAL_ERROR "retention kept ${rows} generations, not ${second} alone:\n${out}")
endif()
file(GLOB left RELATIVE ${scratch}/backups/ACME/DEMO ${scratch}/backups/ACME/DEMO/*)
if(NOT left STREQUAL second)
  message(FATAL_ERROR "left in the database's folder: ${left}")
endif()

file(READ ${scratch}/backups/ACME/DEMO/${second}/manifest.json manifest)
string(JSON name GET "${manifest}" files 0 name)
string(JSON sha256 GET "${manifest}" files 0 sha256)
file(SHA256 ${scratch}/backups/ACME/DEMO/${second}/${name} expected)
if(NOT name STREQUAL "DEMO.bak" OR NOT sha256 STREQUAL expected)
  message(FATAL_ERROR "the manifest says ${name} ${sha256}; the file's SHA-256 is ${expected}")
endif()
file(REMOVE_RECURSE ${scratch})
