# identify on an index in PostgreSQL on one server, and sharded over 2 and
# 3 servers (throw-away clusters on loopback): the time per clip at 1,000
# tracks (SHARD_TRACKS=N in the environment when configuring: another size).
if(TARGET vokid_index_eval)
  add_custom_target(run_vokid_shards_benchmark
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/vokid_shards_bench.sh $<TARGET_FILE:vokid>
            $<TARGET_FILE:vokid_index_eval> $<TARGET_FILE:vokid_audio>
            ${CMAKE_BINARY_DIR}/vokid-shards-bench $ENV{SHARD_TRACKS}
    DEPENDS vokid vokid_index_eval vokid_audio
    USES_TERMINAL)
  add_dependencies(run_vokid_shards_benchmark run_vokid_postgres_benchmark)
  add_dependencies(run_benchmarks run_vokid_shards_benchmark)
endif()
