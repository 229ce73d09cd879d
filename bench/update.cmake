tavix_bench(bench_update SOURCES bench_update.cpp LIBS tavix_online)
target_compile_definitions(bench_update PRIVATE VENDOR_SERVER_PATH="$<TARGET_FILE:vendor-server>")
add_dependencies(bench_update vendor-server)
target_link_libraries(bench_update PRIVATE benchmark::benchmark_main)
