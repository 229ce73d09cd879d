# Process scheduling priority (platform/priority.h).
target_sources(tavix_platform PRIVATE priority.h priority.cpp)
if(WIN32)
  target_sources(tavix_platform PRIVATE win32/priority.cpp)
else()
  target_sources(tavix_platform PRIVATE linux/priority.cpp)
endif()
