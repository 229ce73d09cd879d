# The recording hook (platform/keyhook.h): WH_KEYBOARD_LL on Win32. On Linux: with the system's
# input devices (platform/inputdevices.h), XInput 2 raw events where an X server runs
# (keyhook_x11.h), else the keyboard event nodes (keyhook_evdev.h); otherwise the simulated hook.
target_sources(tavix_platform PRIVATE keyhook.h keyhook.cpp)
if(WIN32)
  target_sources(tavix_platform PRIVATE win32/keyhook.cpp)
else()
  find_package(X11 REQUIRED)
  target_sources(tavix_platform PRIVATE linux/keyhook.cpp sim/keyhook.h sim/keyhook.cpp
                                        keyhook_x11.h linux/keyhook_x11.cpp
                                        keyhook_evdev.h linux/keyhook_evdev.cpp)
  target_link_libraries(tavix_platform PRIVATE X11::X11 X11::Xi)
endif()
