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

# Copies data/ into the program folder. A file the program has rewritten there (conf.xml,
# profiles) is kept unless its source in data/ is newer, so a rebuild never throws away settings.
# The page is then written as one document (BundlePage.cmake).
function(tavix_stage_data)
  add_custom_target(stage_data ALL
    COMMAND ${CMAKE_COMMAND} -DSRC=${CMAKE_SOURCE_DIR}/data -DDST=${TAVIX_STAGE_DIR}
            -P ${CMAKE_SOURCE_DIR}/cmake/StageData.cmake
    COMMAND ${CMAKE_COMMAND} -DSRC=${CMAKE_SOURCE_DIR}/data -DDST=${TAVIX_STAGE_DIR}
            -P ${CMAKE_SOURCE_DIR}/cmake/BundlePage.cmake
    COMMENT "Staging data/ into ${TAVIX_STAGE_DIR}")
endfunction()

# Tests use the simulated input devices even where the machine's own could be reached: a test
# must never grab the keyboard of the machine it runs on.
set(TAVIX_TEST_INPUT "TAVIX_INPUT=sim")

# One Qt Test executable registered with CTest.
function(tavix_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt5::Test ${T_LIBS})
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
