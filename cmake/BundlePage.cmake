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

# Every tag of `html_var` matching `pattern`, whose one group names a file under view/, becomes
# `open`, the file's text, `tail` and `close`. A text holding `close` would end the element early.
function(take_in html_var pattern open tail close)
  set(html "${${html_var}}")
  string(REGEX MATCHALL "${pattern}" tags "${html}")
  foreach(tag IN LISTS tags)
    string(REGEX REPLACE "${pattern}" "\\1" rel "${tag}")
    file(READ "${SRC}/view/${rel}" text)
    string(FIND "${text}" "${close}" found)
    if(NOT found EQUAL -1)
      message(FATAL_ERROR "view/${rel} holds \"${close}\" and cannot be taken into the page")
    endif()
    string(REPLACE "@REL@" "${rel}" end "${tail}")
    string(REPLACE "${tag}" "${open}${text}${end}${close}>" html "${html}")
  endforeach()
  set(${html_var} "${html}" PARENT_SCOPE)
endfunction()

take_in(html "<script src=\"([^\"]+)\"></script>" "<script>\n" "//# sourceURL=@REL@\n" "</script")
take_in(html "<link rel=\"stylesheet\" href=\"([^\"]+)\">" "<style>\n" "" "</style")

# Written only when it changes, so the staged page keeps its time stamp across builds.
set(old "")
if(EXISTS "${out}")
  file(READ "${out}" old)
endif()
if(NOT old STREQUAL html)
  file(WRITE "${out}" "${html}")
endif()
