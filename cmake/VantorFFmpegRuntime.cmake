# FFmpeg's shared libraries are linked into build/lib beside ours, so the
# "$ORIGIN/../lib" run path finds them in the build tree as after install.
set(VANTOR_FFMPEG_LIBRARIES)
foreach(module AVCODEC AVUTIL SWSCALE SWRESAMPLE AVFORMAT AVFILTER AVDEVICE)
  foreach(dir ${${module}_LIBRARY_DIRS})
    file(GLOB candidates "${dir}/lib${${module}_LIBRARIES}.so*")
    list(APPEND VANTOR_FFMPEG_LIBRARIES ${candidates})
  endforeach()
endforeach()
list(REMOVE_DUPLICATES VANTOR_FFMPEG_LIBRARIES)
file(MAKE_DIRECTORY ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
foreach(library ${VANTOR_FFMPEG_LIBRARIES})
  get_filename_component(name ${library} NAME)
  # System libraries (a machine that already has FFmpeg 7.1) stay where they are.
  if(NOT library MATCHES "^/usr/lib")
    file(CREATE_LINK ${library} ${CMAKE_LIBRARY_OUTPUT_DIRECTORY}/${name} SYMBOLIC)
  endif()
endforeach()

# The libraries that a deliverable links without calling them (the plug-ins
# bring the whole FFmpeg set) stay recorded as needed.
set(VANTOR_NO_AS_NEEDED "-Wl,--no-as-needed")
