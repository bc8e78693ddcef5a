# Spectral fingerprint: time from start to a FileFixed and a FileFloat
# fingerprint of a 3-minute 48 kHz stereo 16-bit WAVE file, in-process.
vok_add_micro_benchmark(bench_spectral ${CMAKE_CURRENT_LIST_DIR}/bench_spectral.cpp)
target_link_libraries(bench_spectral PRIVATE vok_engine)
