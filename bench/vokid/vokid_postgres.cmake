# vokid's index in a PostgreSQL database (a throw-away cluster): copy,
# bytes per hour, identification time beside the index folder's, and add
# with 1, 2 and 4 writers at once. It uses the index benchmark's files,
# and runs after it.
if(TARGET vokid_index_eval)
  add_custom_target(run_vokid_postgres_benchmark
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/vokid_postgres_bench.sh $<TARGET_FILE:vokid>
            $<TARGET_FILE:vokid_index_eval> ${CMAKE_BINARY_DIR}/vokid-index-bench
    DEPENDS vokid vokid_index_eval
    USES_TERMINAL)
  add_dependencies(run_vokid_postgres_benchmark run_vokid_index_benchmark)
  add_dependencies(run_benchmarks run_vokid_postgres_benchmark)
endif()
