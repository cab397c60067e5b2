#include "ffmpeg_utils/printers.hpp"

#include <cstring>
#include <string>
#include <type_traits>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "ffmpeg_utils/pixel_format_names.hpp"
#include "pellix/hexdump.hpp"

namespace vantor::video {

namespace {

const void* address(const void* pointer) { return pointer; }

// An enumeration field of a C struct may hold any int (an unknown picture
// type, a newer pixel format); reading it through the C++ enum type would be
// undefined for values outside the enumerators' range, so its storage is
// read as the int it is.
template <typename E>
int raw_enum(const E& field) {
  static_assert(std::is_enum_v<E> && sizeof(E) == sizeof(int), "a C enumeration field");
  int value;
  std::memcpy(&value, &field, sizeof value);
  return value;
}

// A flag word: hexadecimal digits after the label's "0x", then decimal again.
template <typename T>
void print_flags(std::ostream& os, T value) {
  os << std::hex << value << std::dec;
}

// A null text marks the record broken instead of being dereferenced.
bool print_text(std::ostream& os, const char* text) {
  if (text == nullptr) {
    os.setstate(std::ios_base::badbit);
    return false;
  }
  os << text;
  return true;
}

const char* picture_type_name(int type) {
  switch (type) {
    case AV_PICTURE_TYPE_NONE: return "NONE";
    case AV_PICTURE_TYPE_I: return "I";
    case AV_PICTURE_TYPE_P: return "P";
    case AV_PICTURE_TYPE_B: return "B";
    case AV_PICTURE_TYPE_S: return "S";
    case AV_PICTURE_TYPE_SI: return "SI";
    case AV_PICTURE_TYPE_SP: return "SP";
    case AV_PICTURE_TYPE_BI: return "BI";
    default: return nullptr;
  }
}

void print_picture_type(std::ostream& os, int type) {
  if (const char* name = picture_type_name(type)) {
    os << name;
  } else {
    os << "Unknown picture type " << type;
  }
}

void print_media_type(std::ostream& os, int type) {
  switch (type) {
    case AVMEDIA_TYPE_VIDEO: os << "video"; return;
    case AVMEDIA_TYPE_AUDIO: os << "audio"; return;
    case AVMEDIA_TYPE_DATA: os << "data"; return;
    case AVMEDIA_TYPE_SUBTITLE: os << "subtitle"; return;
    case AVMEDIA_TYPE_ATTACHMENT: os << "attachment"; return;
    default: os << "Unknown media type " << type; return;
  }
}

void print_pixel_format(std::ostream& os, int format) {
  if (const char* name = detail::pixel_format_name(format)) {
    os << name;
  } else {
    os << "Unknown pixel format " << format;
  }
}

}  // namespace

std::ostream& operator<<(std::ostream& os, const AVRational& rational) {
  return os << rational.num << "/" << rational.den;
}

std::string to_string(AVPixelFormat format) {
  if (const char* name = detail::pixel_format_name(format)) return name;
  return "Unknown pixel format " + std::to_string(static_cast<int>(format));
}

std::string pix_fmt_name(const wrap_avframe_t& frame) {
  int const format = frame->format;
  if (format >= 0 && format < AV_PIX_FMT_NB) {
    if (const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(format))) return name;
  }
  return std::to_string(format);
}

std::ostream& operator<<(std::ostream& os, const wrap_avpacket_t& packet) {
  AVPacket const& p = *packet.get();
  os << "{AVPacket at " << address(&p) << ":";
  os << " buf=" << address(p.buf) << " pts=" << p.pts << " dts=" << p.dts
     << " data=" << address(p.data) << " size=" << p.size << " stream_index=" << p.stream_index
     << " flags=0x";
  print_flags(os, p.flags);
  os << " side_data=" << address(p.side_data) << " side_data_elems=" << p.side_data_elems
     << " duration=" << p.duration << " pos=" << p.pos << "}";
  return os;
}

std::ostream& operator<<(std::ostream& os, const wrap_avframe_t& frame) {
  AVFrame const& f = *frame;
  os << "{AVFrame at " << address(&f) << ":";
  for (int i = 0; i < AV_NUM_DATA_POINTERS; ++i) os << " data[" << i << "]=" << address(f.data[i]);
  for (int i = 0; i < AV_NUM_DATA_POINTERS; ++i) os << " linesize[" << i << "]=" << f.linesize[i];
  os << " extended_data=" << address(f.extended_data) << " width=" << f.width
     << " height=" << f.height << " nb_samples=" << f.nb_samples << " format=";
  print_pixel_format(os, f.format);
  os << " pict_type=";
  print_picture_type(os, raw_enum(f.pict_type));
  os << " sample_aspect_ratio=" << f.sample_aspect_ratio << " pts=" << f.pts
     << " pkt_dts=" << f.pkt_dts << " quality=" << f.quality << " opaque=" << address(f.opaque)
     << " repeat_pict=" << f.repeat_pict << " sample_rate=" << f.sample_rate;
  for (int i = 0; i < AV_NUM_DATA_POINTERS; ++i) os << " buf[" << i << "]=" << address(f.buf[i]);
  os << " extended_buf=" << address(f.extended_buf) << " nb_extended_buf=" << f.nb_extended_buf
     << " side_data=" << address(f.side_data) << " nb_side_data=" << f.nb_side_data
     << " flags=0x";
  print_flags(os, f.flags);
  os << " color_range=" << raw_enum(f.color_range)
     << " color_primaries=" << raw_enum(f.color_primaries)
     << " color_trc=" << raw_enum(f.color_trc)
     << " colorspace=" << raw_enum(f.colorspace)
     << " chroma_location=" << raw_enum(f.chroma_location)
     << " best_effort_timestamp=" << f.best_effort_timestamp
     << " metadata=" << address(f.metadata) << " decode_error_flags=" << f.decode_error_flags
     << " hw_frames_ctx=" << address(f.hw_frames_ctx) << " opaque_ref=" << address(f.opaque_ref)
     << " crop_top=" << f.crop_top << " crop_bottom=" << f.crop_bottom
     << " crop_left=" << f.crop_left << " crop_right=" << f.crop_right
     << " private_ref=" << address(f.private_ref) << "}";
  return os;
}

std::ostream& operator<<(std::ostream& os, const AVCodecContext& c) {
  os << "{AVCodecContext at " << address(&c) << ":";
  os << " av_class=";
  if (!print_text(os, c.av_class != nullptr ? c.av_class->class_name : nullptr)) return os;
  os << " codec_type=";
  print_media_type(os, raw_enum(c.codec_type));
  os << " codec=";
  if (!print_text(os, c.codec != nullptr ? c.codec->name : nullptr)) return os;
  os << " codec_id=" << raw_enum(c.codec_id) << " codec_tag=0x";
  print_flags(os, c.codec_tag);
  os << " priv_data=" << address(c.priv_data) << " internal=" << address(c.internal)
     << " opaque=" << address(c.opaque) << " bit_rate=" << c.bit_rate
     << " bit_rate_tolerance=" << c.bit_rate_tolerance << " global_quality=" << c.global_quality
     << " compression_level=" << c.compression_level << " flags=0x";
  print_flags(os, c.flags);
  os << " flags2=0x";
  print_flags(os, c.flags2);
  os << " extradata=";
  pellix::hexdump_t(c.extradata, c.extradata + (c.extradata != nullptr ? c.extradata_size : 0))
      .print(os);
  os << " extradata_size=" << c.extradata_size << " time_base=" << c.time_base
     << " delay=" << c.delay << " width=" << c.width << " height=" << c.height
     << " coded_width=" << c.coded_width << " coded_height=" << c.coded_height
     << " gop_size=" << c.gop_size << " pix_fmt=";
  print_pixel_format(os, raw_enum(c.pix_fmt));
  os << " sample_aspect_ratio=" << c.sample_aspect_ratio << " keyint_min=" << c.keyint_min
     << " refs=" << c.refs << " color_primaries=" << raw_enum(c.color_primaries)
     << " color_trc=" << raw_enum(c.color_trc)
     << " colorspace=" << raw_enum(c.colorspace)
     << " color_range=" << raw_enum(c.color_range)
     << " chroma_sample_location=" << raw_enum(c.chroma_sample_location)
     << " sample_rate=" << c.sample_rate << " sample_fmt=" << raw_enum(c.sample_fmt)
     << " frame_size=" << c.frame_size
     << " audio_service_type=" << raw_enum(c.audio_service_type)
     << " request_sample_fmt=" << raw_enum(c.request_sample_fmt)
     << " qcompress=" << static_cast<double>(c.qcompress)
     << " qblur=" << static_cast<double>(c.qblur) << " qmin=" << c.qmin << " qmax=" << c.qmax
     << " max_qdiff=" << c.max_qdiff << " workaround_bugs=0x";
  print_flags(os, c.workaround_bugs);
  os << " strict_std_compliance=" << c.strict_std_compliance
     << " error_concealment=" << c.error_concealment << " debug=0x";
  print_flags(os, c.debug);
  os << " err_recognition=" << c.err_recognition << " error[0]=" << c.error[0]
     << " thread_count=" << c.thread_count << " thread_type=" << c.thread_type
     << " active_thread_type=" << c.active_thread_type << " profile=" << c.profile
     << " level=" << c.level << " initial_padding=" << c.initial_padding
     << " framerate=" << c.framerate << " pkt_timebase=" << c.pkt_timebase
     << " apply_cropping=" << c.apply_cropping << "}";
  return os;
}

std::ostream& operator<<(std::ostream& os, const wrap_avimage_t& image) {
  os << "wrap_avimage_t at " << address(&image) << " (planes=" << address(image.planes[0]) << ","
     << address(image.planes[1]) << "," << address(image.planes[2])
     << " strides=" << image.strides[0] << "," << image.strides[1] << "," << image.strides[2]
     << ")";
  return os;
}

}  // namespace vantor::video
