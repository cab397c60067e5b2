#include "ffmpeg_utils/pixel_format_names.hpp"

#include <iterator>

namespace vantor::video::detail {

namespace {

// Indexed by value + 1, libavutil 59's numbering from AV_PIX_FMT_NONE to
// AV_PIX_FMT_Y210LE. These are the enumerator names, which differ from
// av_get_pix_fmt_name's ("GRAY8", not "gray").
const char* const names[] = {
    /*  -1 */ "NONE", "YUV420P", "YUYV422", "RGB24",
    /*   3 */ "BGR24", "YUV422P", "YUV444P", "YUV410P",
    /*   7 */ "YUV411P", "GRAY8", "MONOWHITE", "MONOBLACK",
    /*  11 */ "PAL8", "YUVJ420P", "YUVJ422P", "YUVJ444P",
    /*  15 */ "UYVY422", "UYYVYY411", "BGR8", "BGR4",
    /*  19 */ "BGR4_BYTE", "RGB8", "RGB4", "RGB4_BYTE",
    /*  23 */ "NV12", "NV21", "ARGB", "RGBA",
    /*  27 */ "ABGR", "BGRA", "GRAY16BE", "GRAY16LE",
    /*  31 */ "YUV440P", "YUVJ440P", "YUVA420P", "RGB48BE",
    /*  35 */ "RGB48LE", "RGB565BE", "RGB565LE", "RGB555BE",
    /*  39 */ "RGB555LE", "BGR565BE", "BGR565LE", "BGR555BE",
    /*  43 */ "BGR555LE", "VAAPI", "YUV420P16LE", "YUV420P16BE",
    /*  47 */ "YUV422P16LE", "YUV422P16BE", "YUV444P16LE", "YUV444P16BE",
    /*  51 */ "DXVA2_VLD", "RGB444LE", "RGB444BE", "BGR444LE",
    /*  55 */ "BGR444BE", "YA8", "BGR48BE", "BGR48LE",
    /*  59 */ "YUV420P9BE", "YUV420P9LE", "YUV420P10BE", "YUV420P10LE",
    /*  63 */ "YUV422P10BE", "YUV422P10LE", "YUV444P9BE", "YUV444P9LE",
    /*  67 */ "YUV444P10BE", "YUV444P10LE", "YUV422P9BE", "YUV422P9LE",
    /*  71 */ "GBRP", "GBRP9BE", "GBRP9LE", "GBRP10BE",
    /*  75 */ "GBRP10LE", "GBRP16BE", "GBRP16LE", "YUVA422P",
    /*  79 */ "YUVA444P", "YUVA420P9BE", "YUVA420P9LE", "YUVA422P9BE",
    /*  83 */ "YUVA422P9LE", "YUVA444P9BE", "YUVA444P9LE", "YUVA420P10BE",
    /*  87 */ "YUVA420P10LE", "YUVA422P10BE", "YUVA422P10LE", "YUVA444P10BE",
    /*  91 */ "YUVA444P10LE", "YUVA420P16BE", "YUVA420P16LE", "YUVA422P16BE",
    /*  95 */ "YUVA422P16LE", "YUVA444P16BE", "YUVA444P16LE", "VDPAU",
    /*  99 */ "XYZ12LE", "XYZ12BE", "NV16", "NV20LE",
    /* 103 */ "NV20BE", "RGBA64BE", "RGBA64LE", "BGRA64BE",
    /* 107 */ "BGRA64LE", "YVYU422", "YA16BE", "YA16LE",
    /* 111 */ "GBRAP", "GBRAP16BE", "GBRAP16LE", "QSV",
    /* 115 */ "MMAL", "D3D11VA_VLD", "CUDA", "0RGB",
    /* 119 */ "RGB0", "0BGR", "BGR0", "YUV420P12BE",
    /* 123 */ "YUV420P12LE", "YUV420P14BE", "YUV420P14LE", "YUV422P12BE",
    /* 127 */ "YUV422P12LE", "YUV422P14BE", "YUV422P14LE", "YUV444P12BE",
    /* 131 */ "YUV444P12LE", "YUV444P14BE", "YUV444P14LE", "GBRP12BE",
    /* 135 */ "GBRP12LE", "GBRP14BE", "GBRP14LE", "YUVJ411P",
    /* 139 */ "BAYER_BGGR8", "BAYER_RGGB8", "BAYER_GBRG8", "BAYER_GRBG8",
    /* 143 */ "BAYER_BGGR16LE", "BAYER_BGGR16BE", "BAYER_RGGB16LE", "BAYER_RGGB16BE",
    /* 147 */ "BAYER_GBRG16LE", "BAYER_GBRG16BE", "BAYER_GRBG16LE", "BAYER_GRBG16BE",
    /* 151 */ "YUV440P10LE", "YUV440P10BE", "YUV440P12LE", "YUV440P12BE",
    /* 155 */ "AYUV64LE", "AYUV64BE", "VIDEOTOOLBOX", "P010LE",
    /* 159 */ "P010BE", "GBRAP12BE", "GBRAP12LE", "GBRAP10BE",
    /* 163 */ "GBRAP10LE", "MEDIACODEC", "GRAY12BE", "GRAY12LE",
    /* 167 */ "GRAY10BE", "GRAY10LE", "P016LE", "P016BE",
    /* 171 */ "D3D11", "GRAY9BE", "GRAY9LE", "GBRPF32BE",
    /* 175 */ "GBRPF32LE", "GBRAPF32BE", "GBRAPF32LE", "DRM_PRIME",
    /* 179 */ "OPENCL", "GRAY14BE", "GRAY14LE", "GRAYF32BE",
    /* 183 */ "GRAYF32LE", "YUVA422P12BE", "YUVA422P12LE", "YUVA444P12BE",
    /* 187 */ "YUVA444P12LE", "NV24", "NV42", "VULKAN",
    /* 191 */ "Y210BE", "Y210LE",
};

static_assert(std::size(names) == last_named_pixel_format - first_named_pixel_format + 1,
              "one name per value");

}  // namespace

const char* pixel_format_name(int format) noexcept {
  if (format < first_named_pixel_format || format > last_named_pixel_format) return nullptr;
  return names[format - first_named_pixel_format];
}

}  // namespace vantor::video::detail
