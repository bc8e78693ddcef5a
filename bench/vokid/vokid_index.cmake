# vokid's identification index: a library of 100 generated tracks (music,
# music with a voice, spoken texts), `vokid add` from MP3, the index size,
# identification of clean and degraded clips and of clips that must not
# match, the bit error rate distributions, the time per clip, and indexes
# of 1,000 and 10,000 tracks.
if(TARGET vokid)
  find_package(nlohmann_json 3 REQUIRED)
  add_executable(vokid_index_eval ${CMAKE_CURRENT_LIST_DIR}/vokid_index_eval.cpp)
  target_link_libraries(vokid_index_eval PRIVATE vokid_search nlohmann_json::nlohmann_json)

  add_custom_target(run_vokid_index_benchmark
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/vokid_index_bench.sh $<TARGET_FILE:vokid>
            $<TARGET_FILE:vokid_index_eval> $<TARGET_FILE:vokid_audio>
            ${CMAKE_BINARY_DIR}/vokid-index-bench
    DEPENDS vokid vokid_index_eval vokid_audio
    USES_TERMINAL)
  add_dependencies(run_benchmarks run_vokid_index_benchmark)
endif()
