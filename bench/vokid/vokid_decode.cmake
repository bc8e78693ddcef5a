# vokid decode's memory: the peak anonymous memory (RssAnon) of decoding a
# fingerprint document of 100 MB, its blocks written as they are read.
if(TARGET vokid AND TARGET vok)
  add_custom_target(run_vokid_decode_benchmark
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/vokid_decode_bench.sh $<TARGET_FILE:vokid>
            $<TARGET_FILE:vok> $<TARGET_FILE:vokid_audio> ${CMAKE_BINARY_DIR}/vokid-decode-bench
    DEPENDS vokid vok vokid_audio
    USES_TERMINAL)
  add_dependencies(run_benchmarks run_vokid_decode_benchmark)
endif()
