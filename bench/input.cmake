if(NOT WIN32)
  tavix_bench(bench_input SOURCES bench_input.cpp LIBS tavix_capture)
endif()
