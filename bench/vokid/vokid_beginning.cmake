# The spectral lookup: the tolerance of SpectralTable::nearest measured on
# generated recordings and speech (the same file's FileFixed, FileFloat
# and MP3 queries against its stored values, different recordings against
# each other), the time of a lookup on 10,000 tracks, and the time the
# values add to vokid add.
if(TARGET vokid)
  add_executable(vokid_beginning_eval ${CMAKE_CURRENT_LIST_DIR}/vokid_beginning_eval.cpp)
  target_link_libraries(vokid_beginning_eval PRIVATE vokid_search)

  add_custom_target(run_vokid_beginning_benchmark
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/vokid_beginning_bench.sh $<TARGET_FILE:vok>
            $<TARGET_FILE:vokid> $<TARGET_FILE:vokid_beginning_eval> $<TARGET_FILE:vokid_audio>
            ${CMAKE_BINARY_DIR}/vokid-beginning-bench
    DEPENDS vok vokid vokid_beginning_eval vokid_audio
    USES_TERMINAL)
  add_dependencies(run_benchmarks run_vokid_beginning_benchmark)
endif()
