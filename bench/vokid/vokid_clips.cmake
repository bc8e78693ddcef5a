# Identification of clips as they come (speech before, after or over the
# music, other tempos and speeds, reverberation and noise, what must match
# nothing) with `vokid identify`, on the library and indexes the index
# benchmark leaves in its folder; and the time per clip on the
# 10,000-track index, for the binary OLD_VOKID names (in make's
# environment) beside this vokid.
if(TARGET vokid)
  add_custom_target(run_vokid_clips_benchmark
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/vokid_clips_bench.sh $<TARGET_FILE:vokid>
            ${CMAKE_BINARY_DIR}/vokid-index-bench
    DEPENDS vokid
    USES_TERMINAL)
  # The index benchmark (vokid_index.cmake) makes the library and the
  # indexes first.
  add_dependencies(run_vokid_clips_benchmark run_vokid_index_benchmark)
  add_dependencies(run_benchmarks run_vokid_clips_benchmark)
endif()
