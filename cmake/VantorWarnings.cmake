# Strict warnings and repo-relative __FILE__ for the project's own targets.
# The host stand-in's files read "transcode/video_base.hpp" and
# "mp4_full_sample.cpp"; the library's "ffmpeg_utils/ffmpeg_utils.cpp".
# GCC uses the last matching prefix map, so the more specific one comes last.
function(vantor_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror
    "-fmacro-prefix-map=${PROJECT_SOURCE_DIR}/="
    "-fmacro-prefix-map=${PROJECT_SOURCE_DIR}/host/=")
endfunction()
