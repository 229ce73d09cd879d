# HID devices through the system's HID class (platform/hid.h).
target_sources(tavix_platform PRIVATE hid.h)
if(WIN32)
  target_sources(tavix_platform PRIVATE win32/hid.cpp)
  target_link_libraries(tavix_platform PUBLIC setupapi hid)
else()
  # The simulated bus hosts the virtual HID driver through the framework stand-in (driver/).
  target_sources(tavix_platform PRIVATE sim/hidbus.h sim/hidbus.cpp)
  target_link_libraries(tavix_platform PRIVATE pelta)
endif()
