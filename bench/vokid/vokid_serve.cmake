# vokid serve under load, with wrk on loopback: vok's Stream1, Stream4 and
# FileFloat queries and MP3 uploads on the index benchmark's 10,000-track
# index, answers a second, latency percentiles and CPU per answer beside
# `vokid identify`'s own time per clip, and anonymous memory after 1,000
# and after 100,000 requests. Runs after the index benchmark, whose work
# folder it uses.
if(TARGET vokid AND TARGET vok)
  add_custom_target(run_vokid_serve_benchmark
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/vokid_serve_bench.sh $<TARGET_FILE:vokid>
            $<TARGET_FILE:vok> ${CMAKE_BINARY_DIR}/vokid-index-bench
    DEPENDS vokid vok
    USES_TERMINAL)
  if(TARGET run_vokid_index_benchmark)
    add_dependencies(run_vokid_serve_benchmark run_vokid_index_benchmark)
  endif()
  add_dependencies(run_benchmarks run_vokid_serve_benchmark)
endif()
