tavix_bench(bench_profiles SOURCES bench_profiles.cpp LIBS tavix_config PkgConfig::PUGIXML)
