#include "outputs/mp4_track_writer.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
#include <libavutil/rational.h>
}

#include "buckets.hpp"
#include "libav/libav_helpers.hpp"
#include "outputs/picture_writers.hpp"
#include "outputs/staged_file.hpp"

namespace vantor::outputs {

namespace {

// libavformat writes through this, not through a name it opens itself: the
// file was created exclusively and without following links, and the MP4
// muxer seeks back to complete its boxes.
int write_to(void* opaque, const uint8_t* data, int size) {
  int const descriptor = *static_cast<int*>(opaque);
  for (int done = 0; done < size;) {
    ssize_t const written = ::write(descriptor, data + done, size_t(size - done));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return AVERROR(written < 0 ? errno : EIO);
    done += int(written);
  }
  return size;
}

int64_t seek_in(void* opaque, int64_t offset, int whence) {
  int const descriptor = *static_cast<int*>(opaque);
  if (whence & AVSEEK_SIZE) {
    struct stat status {};
    return ::fstat(descriptor, &status) == 0 ? int64_t(status.st_size) : AVERROR(errno);
  }
  off_t const at = ::lseek(descriptor, offset, whence & ~AVSEEK_FORCE);
  return at >= 0 ? int64_t(at) : AVERROR(errno);
}

// An AVIOContext of our own: its buffer and itself are freed, the file is not.
struct custom_io_freer_t {
  void operator()(AVIOContext* io) const {
    av_freep(&io->buffer);
    avio_context_free(&io);
  }
};

}  // namespace

struct mp4_track_writer_t::muxer_t {
  int descriptor = -1;  // the staged file's; it closes it
  // The context refers to the AVIOContext but does not free it.
  std::unique_ptr<AVIOContext, custom_io_freer_t> io;
  libav::output_context_ptr_t context;
  libav::packet_ptr_t packet;
  AVStream* stream = nullptr;  // owned by context
};

void mp4_track_writer_t::fail(const char* what, int code) const {
  fail(what, libav::error_text(code).c_str());
}

void mp4_track_writer_t::fail(const char* what, const char* cause) const {
  throw output_error_t(path_.string() + ": " + what + ": " + cause);
}

mp4_track_writer_t::mp4_track_writer_t(staging_t& file, const trak_t& trak, uint64_t first_dts)
    : path_(file.path()), timescale_(trak.media_timescale), muxer_(std::make_unique<muxer_t>()) {
  if (timescale_ == 0 || timescale_ > INT_MAX)
    fail("cannot describe the track", "its timescale is 0 or too large");
  if (trak.width == 0 || trak.height == 0 || trak.width > INT_MAX || trak.height > INT_MAX)
    fail("cannot describe the track", "its picture size is 0 or too large");
  if (first_dts > uint64_t(INT64_MAX)) fail("cannot describe the track", "its first time is too large");
  cursor_ = int64_t(first_dts);

  muxer_t& muxer = *muxer_;
  AVFormatContext* context = nullptr;
  int code = avformat_alloc_output_context2(&context, nullptr, "mp4", path_.c_str());
  muxer.context.reset(context);
  if (code < 0) fail("cannot set up the MP4 muxer", code);
  // The first sample's delay is an empty edit, counted in the movie
  // timescale (1/1000 s by default): in the track's own it is exact.
  code = av_opt_set_int(muxer.context->priv_data, "movie_timescale", timescale_, 0);
  if (code < 0) fail("cannot set up the MP4 muxer", code);

  muxer.stream = avformat_new_stream(muxer.context.get(), nullptr);
  if (muxer.stream == nullptr) fail("cannot add the video track", AVERROR(ENOMEM));
  AVCodecParameters* const parameters = muxer.stream->codecpar;
  parameters->codec_type = AVMEDIA_TYPE_VIDEO;
  parameters->codec_id = AV_CODEC_ID_MJPEG;
  parameters->width = int(trak.width);
  parameters->height = int(trak.height);
  AVRational sar{1, 1};
  if (trak.sar && trak.sar->num != 0 && trak.sar->den != 0)
    av_reduce(&sar.num, &sar.den, trak.sar->num, trak.sar->den, INT_MAX);
  // libavformat refuses a stream whose two ratios disagree.
  parameters->sample_aspect_ratio = sar;
  muxer.stream->sample_aspect_ratio = sar;
  muxer.stream->time_base = AVRational{1, int(timescale_)};

  muxer.descriptor = file.descriptor();
  constexpr int buffer_size = 64 << 10;
  auto* const buffer = static_cast<unsigned char*>(av_malloc(buffer_size));
  if (buffer == nullptr) fail("cannot create the file", AVERROR(ENOMEM));
  muxer.io.reset(avio_alloc_context(buffer, buffer_size, 1, &muxer.descriptor, nullptr, write_to, seek_in));
  if (!muxer.io) {
    av_free(buffer);
    fail("cannot create the file", AVERROR(ENOMEM));
  }
  muxer.context->pb = muxer.io.get();

  muxer.packet.reset(av_packet_alloc());
  if (!muxer.packet) fail("cannot write the file header", AVERROR(ENOMEM));
  // The muxer may pick another time base for the track here.
  code = avformat_write_header(muxer.context.get(), nullptr);
  if (code < 0) fail("cannot write the file header", code);
}

mp4_track_writer_t::~mp4_track_writer_t() = default;

void mp4_track_writer_t::write(const full_sample_t& sample) {
  muxer_t& muxer = *muxer_;
  if (!muxer.context) fail("cannot write a sample", "the file is already finished");
  const buckets_t& data = sample.data();
  size_t const size = buckets_size(data);
  if (size == 0 || size > size_t(INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE))
    fail("cannot write a sample", "its size is 0 or too large");
  int64_t end = 0;
  if (__builtin_add_overflow(cursor_, int64_t(sample.duration()), &end))
    fail("cannot write a sample", "its time is too large");

  AVPacket* const packet = muxer.packet.get();
  av_packet_unref(packet);
  int code = av_new_packet(packet, int(size));
  if (code < 0) fail("cannot write a sample", code);
  uint8_t* out = packet->data;
  buckets_for_each(data, [&out](const uint8_t* block, size_t length) {
    std::memcpy(out, block, length);
    out += length;
  });
  // Start and end are rescaled, not the duration, so that rounding never
  // lets samples drift apart. The track's ticks per second in the muxer's
  // time base num/den: den / num.
  AVRational const base = muxer.stream->time_base;
  std::optional<int64_t> const start =
      libav::rescale(cursor_, int64_t(timescale_) * base.num, base.den, libav::rounding_t::nearest);
  std::optional<int64_t> const stop =
      libav::rescale(end, int64_t(timescale_) * base.num, base.den, libav::rounding_t::nearest);
  if (!start || !stop) fail("cannot write a sample", "its time is too large");
  packet->pts = packet->dts = *start;
  packet->duration = *stop - *start;
  packet->stream_index = muxer.stream->index;
  // libavformat marks every MJPEG packet key in any case (an intra-only
  // codec), so the file has no sync sample table.
  packet->flags = sample.is_sync_sample() ? AV_PKT_FLAG_KEY : 0;
  code = av_write_frame(muxer.context.get(), packet);
  av_packet_unref(packet);
  if (code < 0) fail("cannot write a sample", code);
  cursor_ = end;
  ++count_;
}

void mp4_track_writer_t::finish() {
  muxer_t& muxer = *muxer_;
  if (!muxer.context) fail("cannot finish the file", "it is already finished");
  int const trailer_code = av_write_trailer(muxer.context.get());
  muxer.context.reset();
  avio_flush(muxer.io.get());
  int const write_code = muxer.io->error;
  muxer.io.reset();
  if (trailer_code < 0) fail("cannot write the file index", trailer_code);
  if (write_code < 0) fail("cannot write the file", write_code);
}

}  // namespace vantor::outputs
