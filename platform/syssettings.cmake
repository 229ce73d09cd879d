# Mouse, wheel and keyboard-layout settings: SystemParametersInfo on Win32, X11 on Linux.
target_sources(tavix_platform PRIVATE syssettings.h syssettings.cpp sim/syssettings.h
                                      sim/syssettings.cpp)
if(WIN32)
  target_sources(tavix_platform PRIVATE win32/syssettings.cpp)
  target_link_libraries(tavix_platform PRIVATE user32)
else()
  find_package(X11 REQUIRED)
  target_sources(tavix_platform PRIVATE linux/syssettings_x11.cpp)
  target_link_libraries(tavix_platform PRIVATE X11::X11)
endif()
