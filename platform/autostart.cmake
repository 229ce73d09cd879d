# Start with the system: the Run value on Win32, an XDG autostart entry on Linux.
target_sources(tavix_platform PRIVATE autostart.h autostart.cpp sim/autostart.h sim/autostart.cpp
                                      ${TAVIX_PLATFORM_BACKEND}/autostart.cpp)
