# Start to the first answered page request: the staged program against a bare engine window.
find_package(Qt5 5.15 REQUIRED COMPONENTS WebEngineWidgets WebChannel Network)
tavix_bench(bench_startup SOURCES bench_startup.cpp LIBS tavix_weblog Qt5::WebEngineWidgets Qt5::WebChannel
            Qt5::Network)
set_target_properties(bench_startup PROPERTIES AUTOMOC ON)
tavix_relative_paths(bench_startup TAVIX_STAGE "${TAVIX_STAGE_DIR}")
