# The application in front (the foreground block of platform/windows.h); the simulated one
# (sim/foreground.h, simctl "foreground") is built everywhere but Windows.
target_sources(tavix_platform PRIVATE foreground.cpp)
if(WIN32)
  target_sources(tavix_platform PRIVATE win32/foreground.cpp)
  target_link_libraries(tavix_platform PRIVATE user32 kernel32)
else()
  find_package(X11 REQUIRED)
  target_sources(tavix_platform PRIVATE linux/foreground_xcb.cpp sim/foreground.h
                                        sim/foreground.cpp)
  target_link_libraries(tavix_platform PRIVATE X11::xcb)
endif()
