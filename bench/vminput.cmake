# In the qemu guest of scripts/vmtest only (the kernel's evdev, uinput and uhid).
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  tavix_bench(bench_vminput SOURCES bench_vminput.cpp LIBS tavix_capture tavix_driver_host)
endif()
