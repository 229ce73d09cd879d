tavix_bench(bench_update SOURCES bench_update.cpp LIBS tavix_online)
tavix_relative_paths(bench_update VENDOR_SERVER_PATH TARGET:vendor-server)
add_dependencies(bench_update vendor-server)
target_link_libraries(bench_update PRIVATE benchmark::benchmark_main)
