tavix_bench(bench_bridge SOURCES bench_bridge.cpp LIBS tavix_commands)
