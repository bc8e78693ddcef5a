# vokid: comparison in-process, and the program on generated audio: speed
# and the share of decoding on a 10-minute MP3 (with fpcalc's time where it
# is installed), 40 3-minute MP3 files with -j 2 against -j 1, peak memory,
# and compare's bit error rates on degraded and on different recordings.
if(TARGET vokid)
  vok_add_micro_benchmark(bench_vokid_compare ${CMAKE_CURRENT_LIST_DIR}/bench_vokid_compare.cpp)
  target_link_libraries(bench_vokid_compare PRIVATE vokid_compare)

  add_executable(vokid_pipeline ${CMAKE_CURRENT_LIST_DIR}/vokid_pipeline.cpp)
  target_link_libraries(vokid_pipeline PRIVATE vokid_fingerprint)
  add_executable(vokid_audio ${CMAKE_CURRENT_LIST_DIR}/vokid_audio.cpp
                             ${PROJECT_SOURCE_DIR}/tests/support/recording.cpp)
  target_include_directories(vokid_audio PRIVATE ${PROJECT_SOURCE_DIR})

  add_custom_target(run_vokid_benchmark
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/vokid_bench.sh $<TARGET_FILE:vokid>
            $<TARGET_FILE:vokid_pipeline> $<TARGET_FILE:vokid_audio>
            ${CMAKE_BINARY_DIR}/vokid-bench
    DEPENDS vokid vokid_pipeline vokid_audio
    USES_TERMINAL)
  add_dependencies(run_benchmarks run_vokid_benchmark)
endif()
