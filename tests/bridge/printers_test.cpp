// The one-line diagnostic printers.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <sstream>
#include <string>

#include "ffmpeg_utils/ffmpeg_utils.hpp"
#include "pellix/hexdump.hpp"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace vantor::video {
namespace {

std::string ptr(const void* p) {
  std::ostringstream out;
  out << p;
  return out.str();
}

template <typename T>
std::string printed(const T& value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

// Stores an int in a C enumeration field as C code may, whatever its
// enumerators are.
template <typename E>
void set_raw(E& field, int value) {
  static_assert(sizeof(E) == sizeof(int));
  std::memcpy(&field, &value, sizeof value);
}

std::string dump(const uint8_t* begin, const uint8_t* end) {
  std::ostringstream out;
  pellix::hexdump_t(begin, end).print(out);
  return out.str();
}

// ---------------------------------------------------------------------------
// Pixel format names

#define ENUMERATOR(name) {AV_PIX_FMT_##name, #name}

TEST(pixel_format_names, are_the_enumerator_names_for_every_value) {
  // Paired through the enumerators themselves, so a shifted or misspelt
  // entry of the table shows.
  struct named_t {
    AVPixelFormat value;
    const char* name;
  };
  named_t const all[] = {
      ENUMERATOR(NONE), ENUMERATOR(YUV420P), ENUMERATOR(YUYV422),
      ENUMERATOR(RGB24), ENUMERATOR(BGR24), ENUMERATOR(YUV422P),
      ENUMERATOR(YUV444P), ENUMERATOR(YUV410P), ENUMERATOR(YUV411P),
      ENUMERATOR(GRAY8), ENUMERATOR(MONOWHITE), ENUMERATOR(MONOBLACK),
      ENUMERATOR(PAL8), ENUMERATOR(YUVJ420P), ENUMERATOR(YUVJ422P),
      ENUMERATOR(YUVJ444P), ENUMERATOR(UYVY422), ENUMERATOR(UYYVYY411),
      ENUMERATOR(BGR8), ENUMERATOR(BGR4), ENUMERATOR(BGR4_BYTE),
      ENUMERATOR(RGB8), ENUMERATOR(RGB4), ENUMERATOR(RGB4_BYTE),
      ENUMERATOR(NV12), ENUMERATOR(NV21), ENUMERATOR(ARGB),
      ENUMERATOR(RGBA), ENUMERATOR(ABGR), ENUMERATOR(BGRA),
      ENUMERATOR(GRAY16BE), ENUMERATOR(GRAY16LE), ENUMERATOR(YUV440P),
      ENUMERATOR(YUVJ440P), ENUMERATOR(YUVA420P), ENUMERATOR(RGB48BE),
      ENUMERATOR(RGB48LE), ENUMERATOR(RGB565BE), ENUMERATOR(RGB565LE),
      ENUMERATOR(RGB555BE), ENUMERATOR(RGB555LE), ENUMERATOR(BGR565BE),
      ENUMERATOR(BGR565LE), ENUMERATOR(BGR555BE), ENUMERATOR(BGR555LE),
      ENUMERATOR(VAAPI), ENUMERATOR(YUV420P16LE), ENUMERATOR(YUV420P16BE),
      ENUMERATOR(YUV422P16LE), ENUMERATOR(YUV422P16BE), ENUMERATOR(YUV444P16LE),
      ENUMERATOR(YUV444P16BE), ENUMERATOR(DXVA2_VLD), ENUMERATOR(RGB444LE),
      ENUMERATOR(RGB444BE), ENUMERATOR(BGR444LE), ENUMERATOR(BGR444BE),
      ENUMERATOR(YA8), ENUMERATOR(BGR48BE), ENUMERATOR(BGR48LE),
      ENUMERATOR(YUV420P9BE), ENUMERATOR(YUV420P9LE), ENUMERATOR(YUV420P10BE),
      ENUMERATOR(YUV420P10LE), ENUMERATOR(YUV422P10BE), ENUMERATOR(YUV422P10LE),
      ENUMERATOR(YUV444P9BE), ENUMERATOR(YUV444P9LE), ENUMERATOR(YUV444P10BE),
      ENUMERATOR(YUV444P10LE), ENUMERATOR(YUV422P9BE), ENUMERATOR(YUV422P9LE),
      ENUMERATOR(GBRP), ENUMERATOR(GBRP9BE), ENUMERATOR(GBRP9LE),
      ENUMERATOR(GBRP10BE), ENUMERATOR(GBRP10LE), ENUMERATOR(GBRP16BE),
      ENUMERATOR(GBRP16LE), ENUMERATOR(YUVA422P), ENUMERATOR(YUVA444P),
      ENUMERATOR(YUVA420P9BE), ENUMERATOR(YUVA420P9LE), ENUMERATOR(YUVA422P9BE),
      ENUMERATOR(YUVA422P9LE), ENUMERATOR(YUVA444P9BE), ENUMERATOR(YUVA444P9LE),
      ENUMERATOR(YUVA420P10BE), ENUMERATOR(YUVA420P10LE), ENUMERATOR(YUVA422P10BE),
      ENUMERATOR(YUVA422P10LE), ENUMERATOR(YUVA444P10BE), ENUMERATOR(YUVA444P10LE),
      ENUMERATOR(YUVA420P16BE), ENUMERATOR(YUVA420P16LE), ENUMERATOR(YUVA422P16BE),
      ENUMERATOR(YUVA422P16LE), ENUMERATOR(YUVA444P16BE), ENUMERATOR(YUVA444P16LE),
      ENUMERATOR(VDPAU), ENUMERATOR(XYZ12LE), ENUMERATOR(XYZ12BE),
      ENUMERATOR(NV16), ENUMERATOR(NV20LE), ENUMERATOR(NV20BE),
      ENUMERATOR(RGBA64BE), ENUMERATOR(RGBA64LE), ENUMERATOR(BGRA64BE),
      ENUMERATOR(BGRA64LE), ENUMERATOR(YVYU422), ENUMERATOR(YA16BE),
      ENUMERATOR(YA16LE), ENUMERATOR(GBRAP), ENUMERATOR(GBRAP16BE),
      ENUMERATOR(GBRAP16LE), ENUMERATOR(QSV), ENUMERATOR(MMAL),
      ENUMERATOR(D3D11VA_VLD), ENUMERATOR(CUDA), ENUMERATOR(0RGB),
      ENUMERATOR(RGB0), ENUMERATOR(0BGR), ENUMERATOR(BGR0),
      ENUMERATOR(YUV420P12BE), ENUMERATOR(YUV420P12LE), ENUMERATOR(YUV420P14BE),
      ENUMERATOR(YUV420P14LE), ENUMERATOR(YUV422P12BE), ENUMERATOR(YUV422P12LE),
      ENUMERATOR(YUV422P14BE), ENUMERATOR(YUV422P14LE), ENUMERATOR(YUV444P12BE),
      ENUMERATOR(YUV444P12LE), ENUMERATOR(YUV444P14BE), ENUMERATOR(YUV444P14LE),
      ENUMERATOR(GBRP12BE), ENUMERATOR(GBRP12LE), ENUMERATOR(GBRP14BE),
      ENUMERATOR(GBRP14LE), ENUMERATOR(YUVJ411P), ENUMERATOR(BAYER_BGGR8),
      ENUMERATOR(BAYER_RGGB8), ENUMERATOR(BAYER_GBRG8), ENUMERATOR(BAYER_GRBG8),
      ENUMERATOR(BAYER_BGGR16LE), ENUMERATOR(BAYER_BGGR16BE), ENUMERATOR(BAYER_RGGB16LE),
      ENUMERATOR(BAYER_RGGB16BE), ENUMERATOR(BAYER_GBRG16LE), ENUMERATOR(BAYER_GBRG16BE),
      ENUMERATOR(BAYER_GRBG16LE), ENUMERATOR(BAYER_GRBG16BE), ENUMERATOR(YUV440P10LE),
      ENUMERATOR(YUV440P10BE), ENUMERATOR(YUV440P12LE), ENUMERATOR(YUV440P12BE),
      ENUMERATOR(AYUV64LE), ENUMERATOR(AYUV64BE), ENUMERATOR(VIDEOTOOLBOX),
      ENUMERATOR(P010LE), ENUMERATOR(P010BE), ENUMERATOR(GBRAP12BE),
      ENUMERATOR(GBRAP12LE), ENUMERATOR(GBRAP10BE), ENUMERATOR(GBRAP10LE),
      ENUMERATOR(MEDIACODEC), ENUMERATOR(GRAY12BE), ENUMERATOR(GRAY12LE),
      ENUMERATOR(GRAY10BE), ENUMERATOR(GRAY10LE), ENUMERATOR(P016LE),
      ENUMERATOR(P016BE), ENUMERATOR(D3D11), ENUMERATOR(GRAY9BE),
      ENUMERATOR(GRAY9LE), ENUMERATOR(GBRPF32BE), ENUMERATOR(GBRPF32LE),
      ENUMERATOR(GBRAPF32BE), ENUMERATOR(GBRAPF32LE), ENUMERATOR(DRM_PRIME),
      ENUMERATOR(OPENCL), ENUMERATOR(GRAY14BE), ENUMERATOR(GRAY14LE),
      ENUMERATOR(GRAYF32BE), ENUMERATOR(GRAYF32LE), ENUMERATOR(YUVA422P12BE),
      ENUMERATOR(YUVA422P12LE), ENUMERATOR(YUVA444P12BE), ENUMERATOR(YUVA444P12LE),
      ENUMERATOR(NV24), ENUMERATOR(NV42), ENUMERATOR(VULKAN),
      ENUMERATOR(Y210BE), ENUMERATOR(Y210LE),
  };
  ASSERT_EQ(sizeof all / sizeof all[0], 194u);
  int expected_value = -1;
  for (named_t const& entry : all) {
    EXPECT_EQ(entry.value, expected_value) << entry.name;
    EXPECT_EQ(to_string(entry.value), entry.name);
    ++expected_value;
  }
}

#undef ENUMERATOR

TEST(pixel_format_names, edges_and_unknown_values) {
  EXPECT_EQ(to_string(static_cast<AVPixelFormat>(-1)), "NONE");
  EXPECT_EQ(to_string(static_cast<AVPixelFormat>(0)), "YUV420P");
  EXPECT_EQ(to_string(static_cast<AVPixelFormat>(12)), "YUVJ420P");
  EXPECT_EQ(to_string(static_cast<AVPixelFormat>(23)), "NV12");
  EXPECT_EQ(to_string(static_cast<AVPixelFormat>(62)), "YUV420P10LE");
  EXPECT_EQ(to_string(static_cast<AVPixelFormat>(192)), "Y210LE");
  EXPECT_EQ(to_string(static_cast<AVPixelFormat>(193)), "Unknown pixel format 193");
  EXPECT_EQ(to_string(static_cast<AVPixelFormat>(-2)), "Unknown pixel format -2");
  EXPECT_EQ(to_string(static_cast<AVPixelFormat>(250)), "Unknown pixel format 250");
  EXPECT_EQ(to_string(static_cast<AVPixelFormat>(-200)), "Unknown pixel format -200");
  // Not libav's own names.
  EXPECT_EQ(to_string(AV_PIX_FMT_GRAY8), "GRAY8");
  EXPECT_STREQ(av_get_pix_fmt_name(AV_PIX_FMT_GRAY8), "gray");
}

TEST(pix_fmt_name, is_libavs_name_or_the_number) {
  wrap_avframe_t frame;
  EXPECT_EQ(pix_fmt_name(frame), "-1");
  frame->format = AV_PIX_FMT_YUVJ420P;
  EXPECT_EQ(pix_fmt_name(frame), "yuvj420p");
  frame->format = AV_PIX_FMT_MONOWHITE;
  EXPECT_EQ(pix_fmt_name(frame), "monow");
  frame->format = 100000;
  EXPECT_EQ(pix_fmt_name(frame), "100000");
}

TEST(rational_printer, numerator_slash_denominator) {
  EXPECT_EQ(printed(AVRational{1, 25}), "1/25");
  EXPECT_EQ(printed(AVRational{-3, 0}), "-3/0");
}

// ---------------------------------------------------------------------------
// Packet record

TEST(packet_printer, exact_record) {
  uint8_t const bytes[3] = {1, 2, 3};
  wrap_avpacket_t packet(-7, 20, bytes, bytes + 3);
  AVPacket* p = packet.get();
  p->stream_index = 3;
  p->flags = 0x12;
  p->duration = 26;
  p->pos = 1000;
  std::string const expected = "{AVPacket at " + ptr(p) + ": buf=" + ptr(p->buf) +
                               " pts=20 dts=-7 data=" + ptr(p->data) +
                               " size=3 stream_index=3 flags=0x12 side_data=" + ptr(nullptr) +
                               " side_data_elems=0 duration=26 pos=1000}";
  EXPECT_EQ(printed(packet), expected);
}

TEST(packet_printer, unset_timestamps_and_zero_flags) {
  wrap_avpacket_t packet;
  packet.get()->flags = 0;
  std::string const text = printed(packet);
  EXPECT_NE(text.find(" pts=-9223372036854775808 dts=-9223372036854775808 data="),
            std::string::npos)
      << text;
  EXPECT_NE(text.find(" flags=0x0 side_data="), std::string::npos) << text;
}

TEST(packet_printer, leaves_the_stream_in_decimal) {
  wrap_avpacket_t packet;
  packet.get()->flags = 0xff;
  std::ostringstream out;
  out << packet << " " << 255;
  EXPECT_NE(out.str().find(" flags=0xff side_data="), std::string::npos) << out.str();
  EXPECT_EQ(out.str().substr(out.str().size() - 4), " 255");
}

// ---------------------------------------------------------------------------
// Frame record

TEST(frame_printer, exact_record) {
  wrap_avframe_t frame(4, 2, AV_PIX_FMT_YUVJ420P, fraction_t<unsigned, unsigned>{16, 11}, 100, 7,
                       true);
  AVFrame* f = frame.get();
  f->pict_type = AV_PICTURE_TYPE_B;
  f->pkt_dts = 5;
  f->flags |= 0x10;  // with the key flag: 0x12
  f->color_range = AVCOL_RANGE_JPEG;
  f->decode_error_flags = 0x20;
  f->crop_left = 3;
  f->best_effort_timestamp = 9;

  std::string expected = "{AVFrame at " + ptr(f) + ":";
  for (int i = 0; i < 8; ++i) expected += " data[" + std::to_string(i) + "]=" + ptr(f->data[i]);
  for (int i = 0; i < 8; ++i) {
    expected += " linesize[" + std::to_string(i) + "]=" + std::to_string(f->linesize[i]);
  }
  expected += " extended_data=" + ptr(f->extended_data) +
              " width=4 height=2 nb_samples=0 format=YUVJ420P pict_type=B"
              " sample_aspect_ratio=16/11 pts=7 pkt_dts=5 quality=236 opaque=" +
              ptr(nullptr) + " repeat_pict=0 sample_rate=0";
  for (int i = 0; i < 8; ++i) expected += " buf[" + std::to_string(i) + "]=" + ptr(f->buf[i]);
  expected += " extended_buf=" + ptr(nullptr) + " nb_extended_buf=0 side_data=" + ptr(nullptr) +
              " nb_side_data=0 flags=0x12 color_range=2 color_primaries=2 color_trc=2"
              " colorspace=2 chroma_location=0 best_effort_timestamp=9 metadata=" +
              ptr(nullptr) + " decode_error_flags=32 hw_frames_ctx=" + ptr(nullptr) +
              " opaque_ref=" + ptr(nullptr) +
              " crop_top=0 crop_bottom=0 crop_left=3 crop_right=0 private_ref=" + ptr(nullptr) +
              "}";
  EXPECT_EQ(printed(frame), expected);
}

TEST(frame_printer, names_of_picture_types_and_formats) {
  wrap_avframe_t frame;
  std::string text = printed(frame);
  EXPECT_NE(text.find(" format=NONE pict_type=NONE sample_aspect_ratio=0/1 pts="
                      "-9223372036854775808 "),
            std::string::npos)
      << text;
  set_raw(frame->pict_type, 8);
  frame->format = 193;
  text = printed(frame);
  EXPECT_NE(text.find(" format=Unknown pixel format 193 pict_type=Unknown picture type 8 "),
            std::string::npos)
      << text;
  frame->pict_type = AV_PICTURE_TYPE_BI;
  frame->format = 62;
  EXPECT_NE(printed(frame).find(" format=YUV420P10LE pict_type=BI "), std::string::npos);
  set_raw(frame->pict_type, -1);
  EXPECT_NE(printed(frame).find(" pict_type=Unknown picture type -1 "), std::string::npos);
}

// ---------------------------------------------------------------------------
// Codec context record

struct codec_context_t {
  explicit codec_context_t(const char* decoder_name)
      : codec(avcodec_find_decoder_by_name(decoder_name)), context(avcodec_alloc_context3(codec)) {}
  const AVCodec* codec;
  std::unique_ptr<AVCodecContext, avcodec_context_deleter_t> context;
};

TEST(codec_context_printer, exact_record) {
  codec_context_t h264("h264");
  AVCodecContext& c = *h264.context;
  uint8_t extradata[3] = {0x01, 0x64, 0x00};
  c.extradata = extradata;
  c.extradata_size = 3;
  c.codec_tag = 0x31637661;
  c.flags = 0x12;
  c.flags2 = 0x8000;
  c.time_base = AVRational{1, 25};
  c.width = 1920;
  c.height = 1080;
  c.pix_fmt = AV_PIX_FMT_NV12;
  c.sample_aspect_ratio = AVRational{4, 3};
  c.qcompress = 0.25f;
  c.workaround_bugs = 0xabc;
  c.debug = 0x10;
  c.error[0] = 18446744073709551615ull;
  c.framerate = AVRational{30000, 1001};
  c.pkt_timebase = AVRational{1, 90000};

  auto const number = [](auto v) { return std::to_string(v); };
  std::ostringstream qblur;
  qblur << static_cast<double>(c.qblur);
  std::string const expected =
      "{AVCodecContext at " + ptr(&c) + ": av_class=AVCodecContext codec_type=video codec=h264"
      " codec_id=27 codec_tag=0x31637661 priv_data=" + ptr(c.priv_data) +
      " internal=" + ptr(c.internal) + " opaque=" + ptr(c.opaque) +
      " bit_rate=" + number(c.bit_rate) + " bit_rate_tolerance=" + number(c.bit_rate_tolerance) +
      " global_quality=" + number(c.global_quality) +
      " compression_level=" + number(c.compression_level) +
      " flags=0x12 flags2=0x8000 extradata=" + dump(extradata, extradata + 3) +
      " extradata_size=3 time_base=1/25 delay=" + number(c.delay) +
      " width=1920 height=1080 coded_width=" + number(c.coded_width) +
      " coded_height=" + number(c.coded_height) + " gop_size=" + number(c.gop_size) +
      " pix_fmt=NV12 sample_aspect_ratio=4/3 keyint_min=" + number(c.keyint_min) +
      " refs=" + number(c.refs) + " color_primaries=" + number(int{c.color_primaries}) +
      " color_trc=" + number(int{c.color_trc}) + " colorspace=" + number(int{c.colorspace}) +
      " color_range=" + number(int{c.color_range}) +
      " chroma_sample_location=" + number(int{c.chroma_sample_location}) +
      " sample_rate=" + number(c.sample_rate) + " sample_fmt=" + number(int{c.sample_fmt}) +
      " frame_size=" + number(c.frame_size) +
      " audio_service_type=" + number(int{c.audio_service_type}) +
      " request_sample_fmt=" + number(int{c.request_sample_fmt}) + " qcompress=0.25 qblur=" +
      qblur.str() + " qmin=" + number(c.qmin) + " qmax=" + number(c.qmax) +
      " max_qdiff=" + number(c.max_qdiff) + " workaround_bugs=0xabc strict_std_compliance=" +
      number(c.strict_std_compliance) + " error_concealment=" + number(c.error_concealment) +
      " debug=0x10 err_recognition=" + number(c.err_recognition) +
      " error[0]=18446744073709551615 thread_count=" + number(c.thread_count) +
      " thread_type=" + number(c.thread_type) +
      " active_thread_type=" + number(c.active_thread_type) + " profile=" + number(c.profile) +
      " level=" + number(c.level) + " initial_padding=" + number(c.initial_padding) +
      " framerate=30000/1001 pkt_timebase=1/90000 apply_cropping=" + number(c.apply_cropping) +
      "}";
  std::string const text = printed(c);
  c.extradata = nullptr;  // not the context's to free
  c.extradata_size = 0;
  EXPECT_EQ(text, expected);
}

TEST(codec_context_printer, empty_extradata_and_unknown_media_type) {
  codec_context_t hevc("hevc");
  hevc.context->codec_type = AVMEDIA_TYPE_UNKNOWN;
  std::string const text = printed(*hevc.context);
  EXPECT_NE(text.find(" codec_type=Unknown media type -1 codec=hevc "), std::string::npos) << text;
  EXPECT_NE(text.find(" extradata=" + dump(nullptr, nullptr) + " extradata_size=0 "),
            std::string::npos)
      << text;
  hevc.context->codec_type = AVMEDIA_TYPE_ATTACHMENT;
  EXPECT_NE(printed(*hevc.context).find(" codec_type=attachment "), std::string::npos);
  set_raw(hevc.context->codec_type, 5);
  EXPECT_NE(printed(*hevc.context).find(" codec_type=Unknown media type 5 "), std::string::npos);
}

// What a broken record leaves: the text up to the missing name, and badbit.
std::string broken_record(const AVCodecContext& context) {
  std::ostringstream out;
  out << context;
  EXPECT_TRUE(out.bad());
  return out.str();
}

TEST(codec_context_printer, missing_names_set_badbit_instead_of_crashing) {
  codec_context_t h264("h264");
  AVCodecContext& c = *h264.context;
  std::string const head = "{AVCodecContext at " + ptr(&c) + ":";

  AVClass const* const own_class = c.av_class;
  c.av_class = nullptr;
  EXPECT_EQ(broken_record(c), head + " av_class=");
  AVClass nameless_class = *own_class;
  nameless_class.class_name = nullptr;
  c.av_class = &nameless_class;
  EXPECT_EQ(broken_record(c), head + " av_class=");
  c.av_class = own_class;

  AVCodec const* const own_codec = c.codec;
  c.codec = nullptr;
  EXPECT_EQ(broken_record(c), head + " av_class=AVCodecContext codec_type=video codec=");
  AVCodec nameless_codec = *own_codec;
  nameless_codec.name = nullptr;
  c.codec = &nameless_codec;
  EXPECT_EQ(broken_record(c), head + " av_class=AVCodecContext codec_type=video codec=");
  c.codec = own_codec;

  std::ostringstream sound;
  sound << c;
  EXPECT_TRUE(sound.good());
}

// ---------------------------------------------------------------------------
// Image record

TEST(image_printer, three_planes_and_strides_only) {
  wrap_avimage_t image(20, 10, AV_PIX_FMT_YUVA420P);  // four planes
  ASSERT_NE(image.planes[3], nullptr);
  std::string const expected = "wrap_avimage_t at " + ptr(&image) + " (planes=" +
                               ptr(image.planes[0]) + "," + ptr(image.planes[1]) + "," +
                               ptr(image.planes[2]) + " strides=" +
                               std::to_string(image.strides[0]) + "," +
                               std::to_string(image.strides[1]) + "," +
                               std::to_string(image.strides[2]) + ")";
  EXPECT_EQ(printed(image), expected);
}

TEST(image_printer, two_plane_image_prints_a_null_third_plane) {
  wrap_avimage_t image(20, 10, AV_PIX_FMT_NV12);
  std::string const text = printed(image);
  EXPECT_NE(text.find("," + ptr(nullptr) + " strides="), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - 3), ",0)");
}

}  // namespace
}  // namespace vantor::video
