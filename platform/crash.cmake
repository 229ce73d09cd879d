# The crash handler: minidumps with dbghelp on Win32, a signal handler on Linux.
target_sources(tavix_platform PRIVATE crash.h crash.cpp sim/crash.h sim/crash.cpp)
if(WIN32)
  target_sources(tavix_platform PRIVATE win32/crash.cpp)
  target_link_libraries(tavix_platform PUBLIC dbghelp ole32)
else()
  target_sources(tavix_platform PRIVATE linux/crash.cpp)
endif()
