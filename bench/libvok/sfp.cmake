# Spectral fingerprint: time from start to a FileFixed and a FileFloat
# fingerprint of a 3-minute 48 kHz stereo 16-bit WAVE file, in-process
# (engine only); bench/vok/sfp_program.cmake times the same through vok.
vok_add_micro_benchmark(bench_sfp ${CMAKE_CURRENT_LIST_DIR}/bench_sfp.cpp)
target_link_libraries(bench_sfp PRIVATE vok_internal)
