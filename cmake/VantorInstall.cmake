include(CMakePackageConfigHelpers)

install(EXPORT vantor_ffmpeg_targets NAMESPACE vantor:: DESTINATION lib/cmake/vantor_ffmpeg)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vantor_ffmpegConfig.cmake.in
  ${CMAKE_BINARY_DIR}/vantor_ffmpegConfig.cmake INSTALL_DESTINATION lib/cmake/vantor_ffmpeg)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/vantor_ffmpegConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/vantor_ffmpegConfig.cmake
  ${CMAKE_BINARY_DIR}/vantor_ffmpegConfigVersion.cmake DESTINATION lib/cmake/vantor_ffmpeg)

# Bundled FFmpeg (from the cache prefix) goes along, so that the installed
# tree runs on its own through "$ORIGIN/../lib".
foreach(library ${VANTOR_FFMPEG_LIBRARIES})
  if(NOT library MATCHES "^/usr/lib")
    install(FILES ${library} DESTINATION lib)
  endif()
endforeach()
