#pragma once

// One-line diagnostic records of libav objects and of the image wrapper, for
// log lines. They only read.

#include <ostream>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

#include "ffmpeg_utils/image_bridge.hpp"
#include "ffmpeg_utils/packet_frame.hpp"

namespace vantor::video {

// "{AVPacket at <address>: buf=... pos=...}"
std::ostream& operator<<(std::ostream& os, const wrap_avpacket_t& packet);
// "{AVFrame at <address>: data[0]=... private_ref=...}"
std::ostream& operator<<(std::ostream& os, const wrap_avframe_t& frame);
// "{AVCodecContext at <address>: av_class=... apply_cropping=...}". A null
// class, class name, codec or codec name sets the stream's badbit instead.
std::ostream& operator<<(std::ostream& os, const AVCodecContext& context);
// "wrap_avimage_t at <address> (planes=p0,p1,p2 strides=s0,s1,s2)"
std::ostream& operator<<(std::ostream& os, const wrap_avimage_t& image);
// "<num>/<den>"
std::ostream& operator<<(std::ostream& os, const AVRational& rational);

// The AVPixelFormat enumerator's name without "AV_PIX_FMT_" ("YUVJ420P"),
// for -1 to 192; otherwise "Unknown pixel format <value>".
std::string to_string(AVPixelFormat format);

// libav's own name of the frame's pixel format ("yuv420p"), or the number
// in decimal when libav has none.
std::string pix_fmt_name(const wrap_avframe_t& frame);

}  // namespace vantor::video
