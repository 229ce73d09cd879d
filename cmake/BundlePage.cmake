# cmake -DSRC=<data folder> -DDST=<program folder> -P BundlePage.cmake
#
# Writes the program's page (view/index.html) with its own scripts and style sheet taken into the
# document. The engine loads every file:// resource through the browser process, a round trip
# each that the first screen waits for; one document starts the page several tens of
# milliseconds sooner. The sources stay separate files in data/ and are staged as well; each
# inlined script keeps its file name for the developer tools (sourceURL).
set(page "${SRC}/view/index.html")
set(out "${DST}/view/index.html")
file(READ "${page}" html)

string(REGEX MATCHALL "<script src=\"[^\"]+\"></script>" scripts "${html}")
foreach(tag IN LISTS scripts)
  string(REGEX REPLACE "<script src=\"([^\"]+)\"></script>" "\\1" rel "${tag}")
  file(READ "${SRC}/view/${rel}" code)
  string(FIND "${code}" "</script" closing)
  if(NOT closing EQUAL -1)
    message(FATAL_ERROR "view/${rel} holds \"</script\" and cannot be taken into the page")
  endif()
  string(REPLACE "${tag}" "<script>\n${code}//# sourceURL=${rel}\n</script>" html "${html}")
endforeach()

string(REGEX MATCHALL "<link rel=\"stylesheet\" href=\"[^\"]+\">" sheets "${html}")
foreach(tag IN LISTS sheets)
  string(REGEX REPLACE "<link rel=\"stylesheet\" href=\"([^\"]+)\">" "\\1" rel "${tag}")
  file(READ "${SRC}/view/${rel}" css)
  string(FIND "${css}" "</style" closing)
  if(NOT closing EQUAL -1)
    message(FATAL_ERROR "view/${rel} holds \"</style\" and cannot be taken into the page")
  endif()
  string(REPLACE "${tag}" "<style>\n${css}</style>" html "${html}")
endforeach()

# Written only when it changes, so the staged page keeps its time stamp across builds.
set(old "")
if(EXISTS "${out}")
  file(READ "${out}" old)
endif()
if(NOT old STREQUAL html)
  file(WRITE "${out}" "${html}")
endif()
