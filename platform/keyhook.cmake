# The recording hook (platform/keyhook.h): WH_KEYBOARD_LL on Win32; on Linux the simulated hook
# by default and XInput 2 raw events through keyhook_x11.h.
target_sources(tavix_platform PRIVATE keyhook.h keyhook.cpp)
if(WIN32)
  target_sources(tavix_platform PRIVATE win32/keyhook.cpp)
else()
  find_package(X11 REQUIRED)
  target_sources(tavix_platform PRIVATE sim/keyhook.h sim/keyhook.cpp keyhook_x11.h
                                        linux/keyhook_x11.cpp)
  target_link_libraries(tavix_platform PRIVATE X11::X11 X11::Xi)
endif()
