target_sources(tavix_platform PRIVATE simcontrol.h)
if(NOT WIN32)
  target_sources(tavix_platform PRIVATE sim/simcontrol.cpp)
endif()
