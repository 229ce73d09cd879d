# Global hotkeys: RegisterHotKey on Win32, key grabs on the X root window on Linux.
target_sources(tavix_platform PRIVATE hotkeys.h hotkeys.cpp sim/hotkeys.h sim/hotkeys.cpp
                                      ${TAVIX_PLATFORM_BACKEND}/hotkeys.cpp)
if(TAVIX_PLATFORM_BACKEND STREQUAL "linux")
  find_package(X11 REQUIRED)
  target_link_libraries(tavix_platform PRIVATE X11::X11)
endif()
