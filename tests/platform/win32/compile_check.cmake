# Compiles every Win32 backend source with the 32-bit mingw-w64 compiler, the program's target.
# Globbed when the test runs, so new backend files are checked without reconfiguring.
# -DCXX=<compiler> -DROOT=<source root>
file(GLOB sources "${ROOT}/platform/win32/*.cpp")
list(SORT sources)
if(NOT sources)
  message(FATAL_ERROR "no Win32 backend sources under ${ROOT}/platform/win32")
endif()
set(failed "")
foreach(src IN LISTS sources)
  execute_process(
    COMMAND "${CXX}" -std=c++17 -Wall -Wextra -Werror -fsyntax-only -DTAVIX_PLATFORM_WIN32=1
            -I "${ROOT}" "${src}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out TIMEOUT 300)
  if(rc EQUAL 0)
    message(STATUS "ok      ${src}")
  else()
    message(STATUS "FAILED  ${src}\n${out}")
    list(APPEND failed "${src}")
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "Win32 sources that do not compile: ${failed}")
endif()
