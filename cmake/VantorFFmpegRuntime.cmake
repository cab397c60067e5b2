# A bundled FFmpeg (one the project built into its cache prefix) goes beside
# our libraries in build/lib and, once installed, in lib/: one copy of each
# library under its SONAME, with the run path "$ORIGIN", so that the
# "$ORIGIN/../lib" of our deliverables finds it and it finds its siblings,
# in the build tree as after install, without LD_LIBRARY_PATH.
# A system FFmpeg (under /usr/lib) stays where it is.
set(VANTOR_FFMPEG_LIBRARIES)
foreach(module AVCODEC AVUTIL SWSCALE SWRESAMPLE AVFORMAT AVFILTER AVDEVICE)
  foreach(dir ${${module}_LIBRARY_DIRS})
    file(GLOB candidates "${dir}/lib${${module}_LIBRARIES}.so.*")
    foreach(candidate ${candidates})
      # The SONAME is the name with the major alone: libavcodec.so.61.
      if(candidate MATCHES "\\.so\\.[0-9]+$" AND NOT candidate MATCHES "^/usr/lib")
        list(APPEND VANTOR_FFMPEG_LIBRARIES ${candidate})
      endif()
    endforeach()
  endforeach()
endforeach()
list(REMOVE_DUPLICATES VANTOR_FFMPEG_LIBRARIES)

if(VANTOR_FFMPEG_LIBRARIES)
  find_program(VANTOR_PATCHELF patchelf REQUIRED)
endif()
file(MAKE_DIRECTORY ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(VANTOR_BUNDLED_FFMPEG)
foreach(library ${VANTOR_FFMPEG_LIBRARIES})
  get_filename_component(name ${library} NAME)
  get_filename_component(real ${library} REALPATH)
  set(copy ${CMAKE_LIBRARY_OUTPUT_DIRECTORY}/${name})
  if(NOT EXISTS ${copy} OR ${real} IS_NEWER_THAN ${copy})
    file(REMOVE ${copy})
    configure_file(${real} ${copy} COPYONLY)
    execute_process(COMMAND ${VANTOR_PATCHELF} --set-rpath "$ORIGIN" ${copy}
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()
  list(APPEND VANTOR_BUNDLED_FFMPEG ${copy})
endforeach()

# The libraries that a deliverable links without calling them (the plug-ins
# bring the whole FFmpeg set) stay recorded as needed.
set(VANTOR_NO_AS_NEEDED "-Wl,--no-as-needed")
