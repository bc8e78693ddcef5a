# The engine is built from one object library per subsystem; libvok
# (shared and static) is assembled from all of them in cmake/Libvok.cmake.
# Engine code is compiled position-independent and with hidden symbols:
# only the operations marked VOK_API in libvok/include/vok/ leave the shared
# library.
function(vok_engine_objects name)
  add_library(${name} OBJECT ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/libvok/include
                                             ${PROJECT_SOURCE_DIR}/libvok)
  set_target_properties(${name} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  set_property(GLOBAL APPEND PROPERTY VOK_ENGINE_OBJECT_LIBRARIES ${name})
endfunction()
