find_package(Qt5 5.15 REQUIRED COMPONENTS WebChannel)
tavix_bench(bench_bridge SOURCES bench_bridge.cpp LIBS tavix_commands tavix_browser Qt5::WebChannel)
set_target_properties(bench_bridge PROPERTIES AUTOMOC ON)
