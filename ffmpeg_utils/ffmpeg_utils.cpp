#include "ffmpeg_utils/ffmpeg_utils.hpp"
