# libvok, shared (versioned soname) and static, from the engine's object
# libraries; the internal target that the rest of this tree links; and its
# install rules.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

get_property(vok_object_libraries GLOBAL PROPERTY VOK_ENGINE_OBJECT_LIBRARIES)
set(vok_objects)
foreach(library ${vok_object_libraries})
  list(APPEND vok_objects $<TARGET_OBJECTS:${library}>)
endforeach()

set(vok_public_include
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/libvok/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

add_library(vok_shared SHARED ${vok_objects})
target_include_directories(vok_shared PUBLIC ${vok_public_include})
target_link_libraries(vok_shared PRIVATE m)
set_target_properties(vok_shared PROPERTIES
  OUTPUT_NAME vok
  EXPORT_NAME vok
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR}
  LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/libvok.map)
target_link_options(vok_shared PRIVATE
  -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/libvok.map)
if(NOT VOK_SANITIZE AND NOT VOK_FUZZ)
  # Sanitizer runtimes resolve their hooks at load time.
  target_link_options(vok_shared PRIVATE -Wl,--no-undefined)
endif()

add_library(vok_static STATIC ${vok_objects})
target_include_directories(vok_static PUBLIC ${vok_public_include})
# The objects are C++: a program linked by C's driver (a C-only project)
# needs the C++ runtime named, as vok.pc's Libs.private does; C++'s driver
# adds it by itself.
target_link_libraries(vok_static INTERFACE m $<$<LINK_LANGUAGE:C>:stdc++>)
set_target_properties(vok_static PROPERTIES OUTPUT_NAME vok EXPORT_NAME vok_static)

# The rest of this tree (driver, tests, benchmarks, fuzz targets) links the
# static library and may reach the engine's internal headers.
add_library(vok_internal INTERFACE)
target_link_libraries(vok_internal INTERFACE vok_static)
target_include_directories(vok_internal INTERFACE ${PROJECT_SOURCE_DIR}/libvok)

install(TARGETS vok_shared vok_static EXPORT vokTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/libvok/include/vok
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")

# The pkg-config file finds the prefix from its own place, so that an
# install with `cmake --install --prefix` anywhere is usable as it is.
file(RELATIVE_PATH vok_pc_to_prefix ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" vok_pc_to_prefix "${vok_pc_to_prefix}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/vok.pc.in ${PROJECT_BINARY_DIR}/vok.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vok.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(vok_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/vok)
install(EXPORT vokTargets NAMESPACE vok:: DESTINATION ${vok_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vokConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vokConfig.cmake INSTALL_DESTINATION ${vok_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vokConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vokConfig.cmake ${PROJECT_BINARY_DIR}/vokConfigVersion.cmake
  DESTINATION ${vok_cmake_dir})

install(FILES ${PROJECT_SOURCE_DIR}/man/libvok.3 DESTINATION ${CMAKE_INSTALL_MANDIR}/man3)
