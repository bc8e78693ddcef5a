# End-to-end speed and memory of the program: `make bench` writes a
# 10-minute and a 60-minute WAVE file under the build folder and times
# `vok -c -f FILE` on each (median of several runs, peak memory).
add_executable(bench_wav ${CMAKE_CURRENT_LIST_DIR}/bench_wav.cpp)
add_custom_target(run_program_benchmark
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/program_bench.sh $<TARGET_FILE:vok>
          $<TARGET_FILE:bench_wav> ${CMAKE_BINARY_DIR}/program-bench
  DEPENDS vok bench_wav
  USES_TERMINAL)
add_dependencies(run_benchmarks run_program_benchmark)
