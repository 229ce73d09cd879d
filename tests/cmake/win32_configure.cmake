# Configures the whole tree for 32-bit Windows with mingw-w64 (Qt and the libraries from the
# pkg-config world stood in for, tests/cmake/winconfigure), so the CMake branches for Windows run,
# and checks what they set: both programs GUI programs with the manifest that asks for
# administrator rights, and the Win32 backends in the platform library.
# cmake -DROOT=<source root> -DWORK=<scratch folder> -P win32_configure.cmake
set(stubs "${ROOT}/tests/cmake/winconfigure")
file(REMOVE_RECURSE "${WORK}")
set(ENV{PKG_CONFIG_LIBDIR} "${stubs}/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
execute_process(
  COMMAND "${CMAKE_COMMAND}" -S "${ROOT}" -B "${WORK}" -G Ninja
          -DCMAKE_TOOLCHAIN_FILE=${ROOT}/cmake/mingw-i686.cmake -DQt5_DIR=${stubs}/Qt5
          -DCMAKE_BUILD_TYPE=Release -DTAVIX_TESTS=OFF -DTAVIX_BENCH=OFF -DTAVIX_WERROR=ON
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out TIMEOUT 600)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the Windows configuration failed:\n${out}")
endif()

file(READ "${WORK}/build.ninja" ninja)
set(failed "")
foreach(program tavix CrashReporter)
  # The link statement of the program, up to its next build statement.
  string(REGEX MATCH "\nbuild [^\n]*/${program}\\.exe:[^\n]*\n([ ]+[^\n]*\n)*" link "${ninja}")
  if(NOT link)
    list(APPEND failed "${program}.exe is not built")
    continue()
  endif()
  if(NOT link MATCHES "-mwindows")
    list(APPEND failed "${program}.exe is not a GUI program")
  endif()
  if(NOT link MATCHES "administrator\\.rc\\.(res|obj)")
    list(APPEND failed "${program}.exe has no manifest")
  endif()
endforeach()
foreach(source win32/crash.cpp win32/devio.cpp win32/hid.cpp win32/usb.cpp)
  if(NOT ninja MATCHES "platform/${source}")
    list(APPEND failed "the platform library lacks ${source}")
  endif()
endforeach()

# The manifest compiles into the resource the system reads, and asks for the rights.
execute_process(
  COMMAND i686-w64-mingw32-windres -I "${ROOT}/resources/windows" -O coff
          "${ROOT}/resources/windows/administrator.rc" "${WORK}/administrator.o"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  list(APPEND failed "the manifest does not compile: ${out}")
else()
  file(READ "${WORK}/administrator.o" resource HEX)
  string(HEX "level=\"requireAdministrator\"" wanted)
  string(FIND "${resource}" "${wanted}" at)
  if(at EQUAL -1)
    list(APPEND failed "the compiled manifest does not ask for administrator rights")
  endif()
endif()

if(failed)
  string(REPLACE ";" "\n  " failed "${failed}")
  message(FATAL_ERROR "Windows build settings:\n  ${failed}")
endif()
message(STATUS "Windows configuration: both programs GUI programs with the administrator manifest")
