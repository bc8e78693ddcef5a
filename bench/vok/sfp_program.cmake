# Spectral fingerprint through the program: time from start to a FileFixed
# and a FileFloat fingerprint of a 3-minute 48 kHz stereo 16-bit WAVE file.
add_custom_target(run_sfp_program_benchmark
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/sfp_program_bench.sh $<TARGET_FILE:vok>
          $<TARGET_FILE:bench_wav> ${CMAKE_BINARY_DIR}/sfp-bench
  DEPENDS vok bench_wav
  USES_TERMINAL)
add_dependencies(run_benchmarks run_sfp_program_benchmark)
