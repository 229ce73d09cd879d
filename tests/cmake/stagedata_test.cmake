# Staging data/ twice, with files removed from data/ in between: they leave the program folder
# (and the folders they leave empty), what the program made there stays, and a doctored list
# reaches nothing outside the folder.
# cmake -DSTAGE=<StageData.cmake> -DWORK=<scratch folder> -P stagedata_test.cmake
set(src "${WORK}/data")
set(dst "${WORK}/stage")
file(REMOVE_RECURSE "${WORK}")
file(WRITE "${src}/view/index.html" "page")
file(WRITE "${src}/view/old/gone.js" "old")
file(WRITE "${src}/Resources/profiles/conf.xml" "conf")
file(WRITE "${src}/removed.txt" "removed")

function(stage)
  execute_process(COMMAND "${CMAKE_COMMAND}" -DSRC=${src} -DDST=${dst} -P "${STAGE}"
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "staging failed")
  endif()
endfunction()

function(expect path present)
  if(present AND NOT EXISTS "${path}")
    message(FATAL_ERROR "missing after staging: ${path}")
  elseif(NOT present AND EXISTS "${path}")
    message(FATAL_ERROR "left behind by staging: ${path}")
  endif()
endfunction()

stage()
expect("${dst}/view/old/gone.js" TRUE)
expect("${dst}/removed.txt" TRUE)
# What the program writes into its folder.
file(WRITE "${dst}/web.log" "log")
file(WRITE "${dst}/view/device/kx/seting.html" "installed page")
file(WRITE "${dst}/view/old/notes.txt" "the program's")
file(WRITE "${WORK}/victim" "outside")

file(REMOVE "${src}/view/old/gone.js" "${src}/removed.txt")
file(REMOVE_RECURSE "${src}/view/old")
stage()
expect("${dst}/view/old/gone.js" FALSE)
expect("${dst}/removed.txt" FALSE)
expect("${dst}/view/old/notes.txt" TRUE) # a folder still in use stays
expect("${dst}/view/index.html" TRUE)
expect("${dst}/Resources/profiles/conf.xml" TRUE)
expect("${dst}/web.log" TRUE)
expect("${dst}/view/device/kx/seting.html" TRUE)

# A folder emptied by staging goes.
file(REMOVE "${dst}/view/old/notes.txt")
file(WRITE "${src}/view/old/again.js" "x")
stage()
file(REMOVE_RECURSE "${src}/view/old")
stage()
expect("${dst}/view/old" FALSE)

file(APPEND "${dst}/.stage-data" "../victim\n${WORK}/victim\n")
stage()
expect("${WORK}/victim" TRUE)
message(STATUS "staging removes what data/ no longer has, and nothing else")
