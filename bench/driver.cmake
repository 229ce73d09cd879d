if(NOT WIN32)
  tavix_bench(bench_driver SOURCES bench_driver.cpp LIBS tavix_input pelta)
endif()
