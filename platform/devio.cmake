# Device I/O with a driver's control devices (platform/devio.h): Win32 on Windows, the
# simulated filter driver elsewhere.
target_sources(tavix_platform PRIVATE byteorder.h devio.h devio.cpp)
if(WIN32)
  target_sources(tavix_platform PRIVATE win32/devio.cpp)
else()
  target_sources(tavix_platform PRIVATE sim/filterdriver.h sim/filterdriver.cpp)
endif()
