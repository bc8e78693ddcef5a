# vokid monitor, live: a 2-hour mix fed through a pipe at 10 times real
# time (segments attributed, segments for unindexed audio, latency), and
# 24 hours as fast as they go (anonymous memory at the start and the end).
# Runs after the index benchmark, whose 100-track index it uses.
if(TARGET vokid)
  add_custom_target(run_vokid_monitor_benchmark
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/vokid_monitor_bench.sh $<TARGET_FILE:vokid>
            ${CMAKE_BINARY_DIR}/vokid-index-bench
    DEPENDS vokid
    USES_TERMINAL)
  if(TARGET run_vokid_index_benchmark)
    add_dependencies(run_vokid_monitor_benchmark run_vokid_index_benchmark)
  endif()
  add_dependencies(run_benchmarks run_vokid_monitor_benchmark)
endif()
