# Round trips from page script to a native command and back, in the real browser.
tavix_bench(bench_shell SOURCES bench_shell.cpp
            LIBS tavix_browser tavix_commands tavix_appcore)
set_target_properties(bench_shell PROPERTIES AUTOMOC ON)
