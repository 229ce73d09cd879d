# cmake -DSRC=... -DDST=... -P StageData.cmake
# Copies data/ into the program folder; a file the program rewrote there is kept unless its
# source is newer. The files staged from data/ are listed in the folder's ".stage-data", so that
# one removed from data/ leaves the folder at the next staging (with the folders it leaves
# empty); what the program made there itself was never listed and stays.
cmake_minimum_required(VERSION 3.22)
file(GLOB_RECURSE files RELATIVE "${SRC}" "${SRC}/*")
set(manifest "${DST}/.stage-data")

if(EXISTS "${manifest}")
  file(STRINGS "${manifest}" staged)
  foreach(rel IN LISTS staged)
    # Only names inside the folder: the list is a file anyone could have edited.
    if(rel IN_LIST files OR IS_ABSOLUTE "${rel}" OR rel MATCHES "(^|/)\\.\\.(/|$)")
      continue()
    endif()
    file(REMOVE "${DST}/${rel}")
    get_filename_component(dir "${DST}/${rel}" DIRECTORY)
    while(NOT dir STREQUAL DST AND IS_DIRECTORY "${dir}")
      file(GLOB left "${dir}/*" "${dir}/.*")
      if(left)
        break()
      endif()
      file(REMOVE_RECURSE "${dir}")
      get_filename_component(dir "${dir}" DIRECTORY)
    endwhile()
  endforeach()
endif()

foreach(rel IN LISTS files)
  set(from "${SRC}/${rel}")
  set(to "${DST}/${rel}")
  if(NOT EXISTS "${to}" OR "${from}" IS_NEWER_THAN "${to}")
    get_filename_component(dir "${to}" DIRECTORY)
    file(MAKE_DIRECTORY "${dir}")
    file(COPY_FILE "${from}" "${to}")
  endif()
endforeach()

list(JOIN files "\n" listed)
file(WRITE "${manifest}" "${listed}\n")
