# Checks of the Win32 backend on this Linux build machine: every platform/win32 source must
# compile for the 32-bit program, and Win32 tests run under Wine.
#
#   tavix_wine_test(<name> SOURCES <absolute paths...> [LIBS <mingw libraries...>])
# builds a plain C++ test program (no Qt) with the 64-bit mingw-w64 compiler when the test runs,
# and runs it under wine64; exit code 0 = pass. Label `wine`.

# The posix thread model: the default win32 model has no std::mutex or std::thread in GCC 12.
find_program(TAVIX_MINGW_I686_CXX NAMES i686-w64-mingw32-g++-posix i686-w64-mingw32-g++)
find_program(TAVIX_MINGW_X64_CXX NAMES x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-g++)
find_program(TAVIX_WINE64 wine64 HINTS /usr/lib/wine)
find_program(TAVIX_WINESERVER NAMES wineserver64 wineserver HINTS /usr/lib/wine)

function(tavix_wine_test name)
  if(NOT TAVIX_TESTS OR WIN32)
    return()
  endif()
  cmake_parse_arguments(W "" "" "SOURCES;LIBS" ${ARGN})
  set(libs "")
  foreach(lib IN LISTS W_LIBS)
    list(APPEND libs "-l${lib}")
  endforeach()
  add_test(NAME ${name}
           COMMAND ${CMAKE_SOURCE_DIR}/tests/platform/win32/run_wine.sh
                   ${CMAKE_BINARY_DIR}/wine ${name} ${CMAKE_SOURCE_DIR} ${W_SOURCES} ${libs})
  set_tests_properties(${name} PROPERTIES
    LABELS wine
    TIMEOUT 900
    SKIP_RETURN_CODE 77
    ENVIRONMENT "TAVIX_MINGW64_CXX=${TAVIX_MINGW_X64_CXX};TAVIX_WINE64=${TAVIX_WINE64};TAVIX_WINESERVER=${TAVIX_WINESERVER}")
endfunction()

if(TAVIX_TESTS AND NOT WIN32)
  if(NOT TAVIX_MINGW_I686_CXX)
    set(TAVIX_MINGW_I686_CXX i686-w64-mingw32-g++)
  endif()
  add_test(NAME win32_compile
           COMMAND ${CMAKE_COMMAND} -DCXX=${TAVIX_MINGW_I686_CXX} -DROOT=${CMAKE_SOURCE_DIR}
                   -P ${CMAKE_SOURCE_DIR}/tests/platform/win32/compile_check.cmake)
  set_tests_properties(win32_compile PROPERTIES TIMEOUT 900)
  # The tree configured for Windows with the mingw toolchain: the Windows branches of the CMake
  # files run, and the programs get their Windows settings (tests/cmake/win32_configure.cmake).
  add_test(NAME win32_configure
           COMMAND ${CMAKE_COMMAND} -DROOT=${CMAKE_SOURCE_DIR} -DWORK=${CMAKE_BINARY_DIR}/win32-configure
                   -P ${CMAKE_SOURCE_DIR}/tests/cmake/win32_configure.cmake)
  set_tests_properties(win32_configure PROPERTIES TIMEOUT 600)
endif()
