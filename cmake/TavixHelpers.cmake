# Shared build settings for every tavix target.

function(tavix_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
    if(TAVIX_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
  if(TAVIX_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=${TAVIX_SANITIZE} -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=${TAVIX_SANITIZE})
  endif()
  target_compile_definitions(${target} PRIVATE QT_NO_DEPRECATED_WARNINGS_SINCE=0x050F00
                                                 QT_DISABLE_DEPRECATED_BEFORE=0x050F00)
endfunction()

# Puts an executable or a shared library into the runnable program folder.
function(tavix_stage target)
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY "${TAVIX_STAGE_DIR}"
    LIBRARY_OUTPUT_DIRECTORY "${TAVIX_STAGE_DIR}")
endfunction()

# A program the user starts on Windows: a GUI program (no console window) whose manifest asks
# for administrator rights, as the filter driver and the device library need them. Nothing
# elsewhere.
function(tavix_windows_program target)
  if(NOT WIN32)
    return()
  endif()
  set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
  if(MSVC)
    target_link_options(${target} PRIVATE "/MANIFESTUAC:level='requireAdministrator' uiAccess='false'")
  else()
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/resources/windows/administrator.rc)
    # windres finds the manifest beside the script through the include path.
    target_include_directories(${target} PRIVATE
                               $<$<COMPILE_LANGUAGE:RC>:${CMAKE_SOURCE_DIR}/resources/windows>)
  endif()
endfunction()

# Copies data/ into the program folder. A file the program has rewritten there (conf.xml,
# profiles) is kept unless its source in data/ is newer, so a rebuild never throws away settings;
# a file removed from data/ is removed there too (StageData.cmake).
# The page is then written as one document (BundlePage.cmake).
function(tavix_stage_data)
  add_custom_target(stage_data ALL
    COMMAND ${CMAKE_COMMAND} -DSRC=${CMAKE_SOURCE_DIR}/data -DDST=${TAVIX_STAGE_DIR}
            -P ${CMAKE_SOURCE_DIR}/cmake/StageData.cmake
    COMMAND ${CMAKE_COMMAND} -DSRC=${CMAKE_SOURCE_DIR}/data -DDST=${TAVIX_STAGE_DIR}
            -P ${CMAKE_SOURCE_DIR}/cmake/BundlePage.cmake
    COMMENT "Staging data/ into ${TAVIX_STAGE_DIR}")
endfunction()

# Gives `target` compile definitions NAME="path" for paths of this build and of the source tree,
# written relative to the target's own folder (the code makes them whole with
# tests/support/buildpaths.h): no object file then names an absolute folder, and a build in
# another clone reuses the compiler cache.
#   tavix_relative_paths(target NAME1 /some/path NAME2 TARGET:some_target ...)
function(tavix_relative_paths target)
  set(args ${ARGN})
  while(args)
    list(POP_FRONT args name value)
    if(value MATCHES "^TARGET:(.+)$")
      set(other ${CMAKE_MATCH_1})
      get_target_property(type ${other} TYPE)
      if(type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "MODULE_LIBRARY")
        get_target_property(dir ${other} LIBRARY_OUTPUT_DIRECTORY)
      else()
        get_target_property(dir ${other} RUNTIME_OUTPUT_DIRECTORY)
      endif()
      if(NOT dir)
        get_target_property(dir ${other} BINARY_DIR)
      endif()
      file(RELATIVE_PATH rel "${CMAKE_CURRENT_BINARY_DIR}" "${dir}")
      set(value "./${rel}/$<TARGET_FILE_NAME:${other}>")
    else()
      file(RELATIVE_PATH rel "${CMAKE_CURRENT_BINARY_DIR}" "${value}")
      set(value "./${rel}")
    endif()
    target_compile_definitions(${target} PRIVATE ${name}="${value}")
  endwhile()
endfunction()

# Tests use the simulated input devices even where the machine's own could be reached: a test
# must never grab the keyboard of the machine it runs on.
set(TAVIX_TEST_INPUT "TAVIX_INPUT=sim")

# One Qt Test executable registered with CTest.
function(tavix_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt5::Test ${T_LIBS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  tavix_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TAVIX_TEST_DATA=${CMAKE_SOURCE_DIR}/data;${TAVIX_TEST_INPUT}"
    TIMEOUT 300)
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# Makes `target` depend on every target built in `dir` and the folders below it.
function(tavix_depend_on_targets_below target dir)
  get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t IN LISTS targets)
    get_target_property(type ${t} TYPE)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      add_dependencies(${target} ${t})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    tavix_depend_on_targets_below(${target} "${sub}")
  endforeach()
endfunction()
