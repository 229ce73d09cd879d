# USB device interfaces and their arrival/removal notifications.
target_sources(tavix_platform PRIVATE usb.h usb.cpp usb_simbus.h)
if(WIN32)
  target_sources(tavix_platform PRIVATE usb_win32.h win32/usb.cpp)
  target_link_libraries(tavix_platform PUBLIC setupapi)
else()
  target_sources(tavix_platform PRIVATE sim/usb.h sim/usb.cpp)
endif()
