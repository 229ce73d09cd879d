target_sources(tavix_platform PRIVATE process.h process_native_p.h process.cpp sim/process.h
                                      sim/process.cpp)
if(WIN32)
  target_sources(tavix_platform PRIVATE win32/process.cpp)
  target_link_libraries(tavix_platform PUBLIC shell32)
else()
  target_sources(tavix_platform PRIVATE linux/process.cpp)
endif()
