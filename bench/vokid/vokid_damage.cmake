# vokid on a damaged index: 1,000 seeded damage trials through its
# commands, and how they ended.
if(TARGET vokid)
  add_custom_target(run_vokid_damage_benchmark
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/vokid_damage_bench.sh $<TARGET_FILE:vokid>
            $<TARGET_FILE:vokid_audio> ${CMAKE_BINARY_DIR}/vokid-damage-bench
    DEPENDS vokid vokid_audio
    USES_TERMINAL)
  add_dependencies(run_benchmarks run_vokid_damage_benchmark)
endif()
