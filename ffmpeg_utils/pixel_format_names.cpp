#include "ffmpeg_utils/pixel_format_names.hpp"

#include <iterator>

namespace vantor::video::detail {

namespace {

// Indexed by value + 1, libavutil 59's numbering from AV_PIX_FMT_NONE to
// AV_PIX_FMT_Y210LE. These are the enumerator names, which differ from
// av_get_pix_fmt_name's ("GRAY8", not "gray").
const char* const names[] = {
    /*  -1 */ "NONE", "YUV420P", "YUYV422", "RGB24", "BGR24",
    /*   4 */ "YUV422P", "YUV444P", "YUV410P", "YUV411P", "GRAY8",
    /*   9 */ "MONOWHITE", "MONOBLACK", "PAL8", "YUVJ420P", "YUVJ422P",
    /*  14 */ "YUVJ444P", "UYVY422", "UYYVYY411", "BGR8", "BGR4",
    /*  19 */ "BGR4_BYTE", "RGB8", "RGB4", "RGB4_BYTE", "NV12",
    /*  24 */ "NV21", "ARGB", "RGBA", "ABGR", "BGRA",
    /*  29 */ "GRAY16BE", "GRAY16LE", "YUV440P", "YUVJ440P", "YUVA420P",
    /*  34 */ "RGB48BE", "RGB48LE", "RGB565BE", "RGB565LE", "RGB555BE",
    /*  39 */ "RGB555LE", "BGR565BE", "BGR565LE", "BGR555BE", "BGR555LE",
    /*  44 */ "VAAPI", "YUV420P16LE", "YUV420P16BE", "YUV422P16LE", "YUV422P16BE",
    /*  49 */ "YUV444P16LE", "YUV444P16BE", "DXVA2_VLD", "RGB444LE", "RGB444BE",
    /*  54 */ "BGR444LE", "BGR444BE", "YA8", "BGR48BE", "BGR48LE",
    /*  59 */ "YUV420P9BE", "YUV420P9LE", "YUV420P10BE", "YUV420P10LE", "YUV422P10BE",
    /*  64 */ "YUV422P10LE", "YUV444P9BE", "YUV444P9LE", "YUV444P10BE", "YUV444P10LE",
    /*  69 */ "YUV422P9BE", "YUV422P9LE", "GBRP", "GBRP9BE", "GBRP9LE",
    /*  74 */ "GBRP10BE", "GBRP10LE", "GBRP16BE", "GBRP16LE", "YUVA422P",
    /*  79 */ "YUVA444P", "YUVA420P9BE", "YUVA420P9LE", "YUVA422P9BE", "YUVA422P9LE",
    /*  84 */ "YUVA444P9BE", "YUVA444P9LE", "YUVA420P10BE", "YUVA420P10LE", "YUVA422P10BE",
    /*  89 */ "YUVA422P10LE", "YUVA444P10BE", "YUVA444P10LE", "YUVA420P16BE", "YUVA420P16LE",
    /*  94 */ "YUVA422P16BE", "YUVA422P16LE", "YUVA444P16BE", "YUVA444P16LE", "VDPAU",
    /*  99 */ "XYZ12LE", "XYZ12BE", "NV16", "NV20LE", "NV20BE",
    /* 104 */ "RGBA64BE", "RGBA64LE", "BGRA64BE", "BGRA64LE", "YVYU422",
    /* 109 */ "YA16BE", "YA16LE", "GBRAP", "GBRAP16BE", "GBRAP16LE",
    /* 114 */ "QSV", "MMAL", "D3D11VA_VLD", "CUDA", "0RGB",
    /* 119 */ "RGB0", "0BGR", "BGR0", "YUV420P12BE", "YUV420P12LE",
    /* 124 */ "YUV420P14BE", "YUV420P14LE", "YUV422P12BE", "YUV422P12LE", "YUV422P14BE",
    /* 129 */ "YUV422P14LE", "YUV444P12BE", "YUV444P12LE", "YUV444P14BE", "YUV444P14LE",
    /* 134 */ "GBRP12BE", "GBRP12LE", "GBRP14BE", "GBRP14LE", "YUVJ411P",
    /* 139 */ "BAYER_BGGR8", "BAYER_RGGB8", "BAYER_GBRG8", "BAYER_GRBG8", "BAYER_BGGR16LE",
    /* 144 */ "BAYER_BGGR16BE", "BAYER_RGGB16LE", "BAYER_RGGB16BE", "BAYER_GBRG16LE", "BAYER_GBRG16BE",
    /* 149 */ "BAYER_GRBG16LE", "BAYER_GRBG16BE", "YUV440P10LE", "YUV440P10BE", "YUV440P12LE",
    /* 154 */ "YUV440P12BE", "AYUV64LE", "AYUV64BE", "VIDEOTOOLBOX", "P010LE",
    /* 159 */ "P010BE", "GBRAP12BE", "GBRAP12LE", "GBRAP10BE", "GBRAP10LE",
    /* 164 */ "MEDIACODEC", "GRAY12BE", "GRAY12LE", "GRAY10BE", "GRAY10LE",
    /* 169 */ "P016LE", "P016BE", "D3D11", "GRAY9BE", "GRAY9LE",
    /* 174 */ "GBRPF32BE", "GBRPF32LE", "GBRAPF32BE", "GBRAPF32LE", "DRM_PRIME",
    /* 179 */ "OPENCL", "GRAY14BE", "GRAY14LE", "GRAYF32BE", "GRAYF32LE",
    /* 184 */ "YUVA422P12BE", "YUVA422P12LE", "YUVA444P12BE", "YUVA444P12LE", "NV24",
    /* 189 */ "NV42", "VULKAN", "Y210BE", "Y210LE",
};

static_assert(std::size(names) == last_named_pixel_format - first_named_pixel_format + 1,
              "one name per value");

}  // namespace

const char* pixel_format_name(int format) noexcept {
  if (format < first_named_pixel_format || format > last_named_pixel_format) return nullptr;
  return names[format - first_named_pixel_format];
}

}  // namespace vantor::video::detail
