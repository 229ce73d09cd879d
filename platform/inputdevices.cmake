# Which input devices the Linux backends use: the system's (evdev, uinput, uhid) or the
# simulated ones (platform/inputdevices.h). evdevnode and scancodes serve the filter driver,
# the recording hooks and the mirrors alike.
if(NOT WIN32)
  target_sources(tavix_platform PRIVATE inputdevices.h linux/inputdevices.cpp
                                        linux/evdevnode.h linux/evdevnode.cpp
                                        linux/scancodes.h linux/scancodes.cpp)
endif()
