tavix_bench(bench_download SOURCES bench_download.cpp LIBS tavix_online)
tavix_relative_paths(bench_download VENDOR_SERVER_PATH TARGET:vendor-server)
add_dependencies(bench_download vendor-server)
tavix_bench(bench_unpack SOURCES bench_unpack.cpp LIBS tavix_online)
# Their setups build themselves on first use, so benchmark's own main serves both.
target_link_libraries(bench_download PRIVATE benchmark::benchmark_main)
target_link_libraries(bench_unpack PRIVATE benchmark::benchmark_main)
