# vokid's stored sequences: a stretch of 512 sub-fingerprints from the
# middle of a 60-block print, and the whole print, read from the plain form
# (format version 3) and from the packed (4); the bytes of each.
if(TARGET vokid_index)
  vok_add_micro_benchmark(bench_vokid_sequence ${CMAKE_CURRENT_LIST_DIR}/bench_vokid_sequence.cpp)
  target_link_libraries(bench_vokid_sequence PRIVATE vokid_index)
endif()
