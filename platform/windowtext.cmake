# Typing into the window under the cursor (the last block of platform/windows.h); the recording
# stand-in (sim/windowtext.h) is built everywhere but Windows.
target_sources(tavix_platform PRIVATE windowtext.cpp)
if(WIN32)
  target_sources(tavix_platform PRIVATE win32/windowtext.cpp)
  target_link_libraries(tavix_platform PRIVATE user32)
else()
  find_package(X11 REQUIRED)
  target_sources(tavix_platform PRIVATE linux/windowtext_x11.cpp sim/windowtext.h
                                        sim/windowtext.cpp)
  target_link_libraries(tavix_platform PRIVATE X11::X11)
endif()
