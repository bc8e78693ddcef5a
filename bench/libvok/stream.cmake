# Streaming fingerprint: audio seconds analysed per wall-clock second.
vok_add_micro_benchmark(bench_stream ${CMAKE_CURRENT_LIST_DIR}/bench_stream.cpp)
target_link_libraries(bench_stream PRIVATE vok_internal)
