# The crash handler: minidumps with dbghelp on Win32, a signal handler on Linux.
target_sources(tavix_platform PRIVATE crash.h crash.cpp sim/crash.h sim/crash.cpp)
if(WIN32)
  target_sources(tavix_platform PRIVATE win32/crash.cpp)
  target_link_libraries(tavix_platform PUBLIC dbghelp ole32)
else()
  target_sources(tavix_platform PRIVATE linux/crash.cpp)
  # An alternate signal stack for every thread a program starts (linux/threadstart.cpp): linked
  # into the programs that install the crash handler, never through the static library, whose
  # objects would be taken in by chance.
  add_library(tavix_threadstacks OBJECT linux/threadstart.cpp)
  target_link_libraries(tavix_threadstacks PUBLIC tavix_platform ${CMAKE_DL_LIBS})
  tavix_warnings(tavix_threadstacks)
endif()
