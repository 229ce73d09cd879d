# Device I/O with a driver's control devices (platform/devio.h): Win32 on Windows; on Linux the
# filter driver over evdev and uinput (devio_evdev.h) where the system's input devices are
# reachable, else the simulated filter driver (platform/inputdevices.h chooses, TAVIX_INPUT
# overrides). filterdriver.h is the filter driver's interface, shared by its client (input/) and
# both drivers.
target_sources(tavix_platform PRIVATE byteorder.h devio.h devio.cpp filterdriver.h)
if(WIN32)
  target_sources(tavix_platform PRIVATE win32/devio.cpp)
else()
  target_sources(tavix_platform PRIVATE linux/devio.cpp devio_evdev.h linux/evdevfilter.cpp)
  # filterdriver.cpp the slots and what reached the system, devio.cpp the device I/O backend over
  # them, _config the configuration text, _commands the simulation control commands.
  target_sources(tavix_platform PRIVATE sim/filterdriver.h sim/filterdriver_p.h
                                        sim/filterdriver.cpp sim/devio.cpp
                                        sim/filterdriver_config.cpp sim/filterdriver_commands.cpp)
endif()
