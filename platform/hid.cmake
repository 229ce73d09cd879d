# HID devices through the system's HID class (platform/hid.h).
target_sources(tavix_platform PRIVATE hid.h)
if(WIN32)
  target_sources(tavix_platform PRIVATE win32/hid.cpp)
  target_link_libraries(tavix_platform PUBLIC setupapi hid)
else()
  # The simulated bus hosts the virtual HID driver through the framework stand-in (driver/).
  # hidbus.cpp the bus, hid.cpp the facility over it, _input the recorder of what the system
  # saw, _config the configuration text, _commands the simulation control commands.
  target_sources(tavix_platform PRIVATE sim/hidbus.h sim/hidbus_p.h sim/hidbus.cpp sim/hid.cpp
                                        sim/hidbus_input.cpp sim/hidbus_config.cpp
                                        sim/hidbus_commands.cpp)
  target_link_libraries(tavix_platform PRIVATE pelta)
endif()
