# Spectral fingerprint: time from start to a FileFixed and a FileFloat
# fingerprint of a 3-minute 48 kHz stereo 16-bit WAVE file, in-process
# (engine only) and through the program.
vok_add_micro_benchmark(bench_sfp ${CMAKE_CURRENT_LIST_DIR}/bench_sfp.cpp)
target_link_libraries(bench_sfp PRIVATE vok_internal)

add_custom_target(run_sfp_program_benchmark
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/sfp_program_bench.sh $<TARGET_FILE:vok>
          $<TARGET_FILE:bench_wav> ${CMAKE_BINARY_DIR}/sfp-bench
  DEPENDS vok bench_wav
  USES_TERMINAL)
add_dependencies(run_benchmarks run_sfp_program_benchmark)
