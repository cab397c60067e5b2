# The installed tree: a self-contained prefix that a host builds against with
# CMAKE_PREFIX_PATH (or pkg-config) alone, and that `make deb` packages.
include(CMakePackageConfigHelpers)

install(EXPORT vantor_ffmpeg_targets NAMESPACE vantor:: DESTINATION lib/cmake/vantor_ffmpeg)
set(VANTOR_INSTALL_PLUGINSDIR plugins)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vantor_ffmpegConfig.cmake.in
  ${CMAKE_BINARY_DIR}/vantor_ffmpegConfig.cmake INSTALL_DESTINATION lib/cmake/vantor_ffmpeg
  PATH_VARS VANTOR_INSTALL_PLUGINSDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/vantor_ffmpegConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/vantor_ffmpegConfig.cmake
  ${CMAKE_BINARY_DIR}/vantor_ffmpegConfigVersion.cmake DESTINATION lib/cmake/vantor_ffmpeg)

# For hosts without CMake; relative to its own folder, so the prefix can move.
configure_file(${PROJECT_SOURCE_DIR}/cmake/vantor-ffmpeg.pc.in ${CMAKE_BINARY_DIR}/vantor-ffmpeg.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/vantor-ffmpeg.pc DESTINATION lib/pkgconfig)

# The bundled FFmpeg, already carrying the run path "$ORIGIN" (see
# VantorFFmpegRuntime.cmake), so that the installed tree runs on its own.
install(FILES ${VANTOR_BUNDLED_FFMPEG} DESTINATION lib)

set(VANTOR_DOC_DIR share/doc/vantor-ffmpeg)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md DESTINATION ${VANTOR_DOC_DIR})
if(VANTOR_BUNDLED_FFMPEG)
  # FFmpeg is LGPL-2.1-or-later as we build it: its licence text and where
  # its exact source comes from go with every copy.
  file(STRINGS ${PROJECT_SOURCE_DIR}/scripts/bootstrap-ffmpeg.sh bootstrap_lines
       REGEX "^readonly (VERSION|DEB_VERSION|ORIG_SHA256)=")
  foreach(line ${bootstrap_lines})
    string(REGEX REPLACE "^readonly ([A-Z_0-9]+)=(.*)$" "\\1" key "${line}")
    string(REGEX REPLACE "^readonly ([A-Z_0-9]+)=(.*)$" "\\2" value "${line}")
    set(VANTOR_FFMPEG_SOURCE_${key} "${value}")
  endforeach()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/FFMPEG-SOURCE.in ${CMAKE_BINARY_DIR}/FFMPEG-SOURCE @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/FFMPEG-SOURCE DESTINATION ${VANTOR_DOC_DIR})
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${VANTOR_DOC_DIR} RENAME FFMPEG-LICENSE)
endif()

# `make deb`: one self-contained prefix under /opt, since the modules'
# "$ORIGIN/../lib" keeps plugins/ beside lib/.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantor-ffmpeg)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "vantor-ffmpeg developers <vantor-ffmpeg@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "H.264/HEVC decoders, resize filter and JPEG encoder plug-ins on FFmpeg 7.1, and vantor-transcode")
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/vantor-ffmpeg)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_LICENSE LGPL-2.1-or-later)
# FFmpeg comes inside; what remains is the C and C++ runtime of Debian 12.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.36), libstdc++6 (>= 12), libgcc-s1 (>= 3.0)")
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
endif()
include(CPack)
