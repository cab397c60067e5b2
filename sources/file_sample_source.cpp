#include "sources/file_sample_source.hpp"

#include <algorithm>
#include <cstring>
#include <deque>
#include <fstream>
#include <limits>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

#include "buckets.hpp"
#include "libav/libav_helpers.hpp"
#include "sources/container_policy.hpp"
#include "sources/display_orientation.hpp"
#include "sources/dolby_vision.hpp"
#include "sources/libav_log_scope.hpp"
#include "sources/mp4_track_facts.hpp"
#include "sources/nal_reference.hpp"
#include "exception.hpp"

namespace vantor::sources {

namespace {

// One packet of the stream, its times already in track ticks (unshifted).
struct queued_packet_t {
  uint64_t number = 0;  // 0-based place in the stream
  unique_buckets_ptr_t data;
  std::optional<int64_t> dts;
  std::optional<int64_t> pts;
  int64_t duration = 0;  // 0 when the container does not say
  bool key = false;
  bool corrupt = false;
  bool unreferenced = false;  // no other picture refers to it
};

// Times come from the file, so any sum or difference of two may overflow.
std::optional<int64_t> add_ticks(int64_t a, int64_t b) {
  int64_t result = 0;
  if (__builtin_add_overflow(a, b, &result)) return std::nullopt;
  return result;
}
std::optional<int64_t> sub_ticks(int64_t a, int64_t b) {
  int64_t result = 0;
  if (__builtin_sub_overflow(a, b, &result)) return std::nullopt;
  return result;
}
int64_t saturated_add(int64_t a, int64_t b) {
  return add_ticks(a, b).value_or(b > 0 ? std::numeric_limits<int64_t>::max()
                                        : std::numeric_limits<int64_t>::min());
}

bool is_wanted(const AVCodecParameters& par) {
  return par.codec_type == AVMEDIA_TYPE_VIDEO &&
         (par.codec_id == AV_CODEC_ID_H264 || par.codec_id == AV_CODEC_ID_HEVC);
}

const char* raw_example(AVCodecID id) {
  return id == AV_CODEC_ID_HEVC ? "\"ffmpeg -i in.hevc -c copy -use_editlist 0 out.mp4\""
                                : "\"ffmpeg -i in.h264 -c copy -use_editlist 0 out.mp4\"";
}

// Names the container of a file libavformat cannot open, from its first
// bytes; empty when nothing is recognised.
std::string sniff_container(const std::string& path) {
  unsigned char head[16] = {};
  std::ifstream file(path, std::ios::binary);
  file.read(reinterpret_cast<char*>(head), sizeof head);
  if (file.gcount() < 4) return {};
  static const unsigned char asf_guid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                             0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  if (std::memcmp(head, "RIFF", 4) == 0) {
    return file.gcount() >= 12 && std::memcmp(head + 8, "AVI ", 4) == 0 ? "AVI" : "RIFF";
  }
  if (head[0] == 0 && head[1] == 0 && head[2] == 1 && head[3] == 0xBA) return "MPEG program stream";
  if (std::memcmp(head, "OggS", 4) == 0) return "Ogg";
  if (file.gcount() == 16 && std::memcmp(head, asf_guid, 16) == 0) return "ASF (WMV)";
  return {};
}

}  // namespace

namespace {

// The demuxers of the containers above, by libavformat's names.
constexpr char supported_demuxers[] = "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,mpegts,flv,h264,hevc";

// One dictionary a stream, as avformat_find_stream_info takes them; it may
// replace each with what the stream's probing decoder left unused.
class stream_options_t {
 public:
  explicit stream_options_t(unsigned streams) : dictionaries_(streams, nullptr) {}
  ~stream_options_t() {
    for (AVDictionary*& dictionary : dictionaries_) av_dict_free(&dictionary);
  }
  stream_options_t(const stream_options_t&) = delete;
  stream_options_t& operator=(const stream_options_t&) = delete;

  void set_all(const char* key, int64_t value) {
    for (AVDictionary*& dictionary : dictionaries_) av_dict_set_int(&dictionary, key, value, 0);
  }
  AVDictionary** data() noexcept { return dictionaries_.empty() ? nullptr : dictionaries_.data(); }

 private:
  std::vector<AVDictionary*> dictionaries_;
};

}  // namespace

const char* const supported_containers_text =
    "MP4, MOV, fragmented MP4 segments, Matroska, MPEG-TS, FLV and raw H.264/HEVC streams";

struct file_sample_source_t::impl_t {
  std::string path;
  log_context_t* log_context = nullptr;  // where libavformat's messages go
  uint64_t max_pixels = 0;               // of a declared picture; 0: no limit
  libav::input_context_ptr_t context;
  libav::packet_ptr_t packet;
  AVStream* stream = nullptr;
  int64_t tick_multiplier = 1;  // time base numerator: ticks = time * multiplier
  trak_t trak;
  file_stream_info_t info;

  std::deque<queued_packet_t> queue;
  uint64_t packets_read = 0;
  bool at_end = false;
  std::optional<vantor::exception> fault;  // kept once the queue before it is used up
  std::shared_ptr<source_fault_t> kept = std::make_shared<source_fault_t>();
  bool keyframe_seen = false;
  container_policy_t policy;  // of the file's demuxer
  int64_t shift = 0;                        // added to every time
  uint64_t presentation_start = 0;          // presentation time 0 after the shift
  uint64_t first_dts = 0;          // of the stream
  uint64_t segment_first_dts = 0;  // of the first sample delivered since the last seek
  std::optional<int64_t> last_dts;       // of the last packet queued
  int64_t last_duration = 0;             // of the last packet queued
  uint32_t previous_sample_duration = 0;
  std::optional<int64_t> max_pts_end;  // latest pts + duration seen, in ticks
  int64_t max_packet_duration = 0;
  int64_t raw_frame_duration = 0; // in ticks, when packets carry none
  int64_t next_raw_time = 0;

  // What the reader may leave out (see leave_out_before()).
  nal_layout_t nal_layout;
  std::optional<int64_t> needed_from;  // shifted ticks
  bool sync_only = false;
  bool front_settled = false;  // the next sample to deliver is fixed
  uint64_t last_delivered_dts = 0;
  bool seeked = false;
  std::optional<int64_t> first_unshifted_dts;

  ~impl_t() {
    libav_log_scope_t const scope(log_context);
    context.reset();
  }

  [[noreturn]] void fail(vantor_result code, const std::string& cause) const {
    throw vantor::exception(code, message(cause));
  }
  int64_t checked(std::optional<int64_t> time, const std::string& what) const {
    if (!time) fail(vantor_result_check_failed, what + " does not fit in 64 bits");
    return *time;
  }
  std::string message(const std::string& cause) const {
    return "file_sample_source: " + path + ": " + cause;
  }
  void set_fault(vantor_result code, const std::string& cause) {
    if (!fault) fault.emplace(code, message(cause));
  }
  // Ends the samples here, whatever the reads after this one found.
  std::nullopt_t end_at_damage(vantor_result code, const std::string& cause) {
    fault.emplace(code, message(cause));
    queue.clear();
    at_end = true;
    kept->error = *fault;
    return std::nullopt;
  }

  std::optional<int64_t> ticks(int64_t time) {
    if (time == AV_NOPTS_VALUE) return std::nullopt;
    int64_t result = 0;
    if (__builtin_mul_overflow(time, tick_multiplier, &result)) return std::nullopt;
    return result;
  }

  // The presentation end time the container announces, in ticks.
  std::optional<int64_t> expected_end() {
    if (trak.duration == 0) return std::nullopt;
    int64_t const start = ticks(stream->start_time).value_or(0);
    return saturated_add(start, static_cast<int64_t>(std::min<uint64_t>(
                                    trak.duration, std::numeric_limits<int64_t>::max())));
  }

  void open(const std::string& file_path);
  void refuse_what_the_moov_hides() const;
  void refuse_pictures_above_the_limit() const;
  void choose_stream();
  void describe_track();
  void prime();
  void fill_decode_times();
  bool read_packet();
  bool cut_inside_a_packet() const;
  bool droppable(const queued_packet_t& queued) const;
  void settle_front();
  bool can_seek() const;
  std::optional<uint64_t> sync_sample_before(uint64_t ticks) const;
  bool seek(uint64_t ticks);
  void restart_reading();
  void renumber_after_seek();
  std::optional<full_sample_t> next_sample();
};

void file_sample_source_t::impl_t::open(const std::string& file_path) {
  libav_log_scope_t const scope(log_context);
  path = file_path;
  AVFormatContext* raw = nullptr;
  // A name is a file, whatever it looks like ("pipe:0", "clip:1.h264"), and
  // a file is one of the containers read here: a playlist cannot pull in
  // other files, a name pattern cannot make a picture of local files.
  libav::dictionary_t options;
  av_dict_set(options.out(), "protocol_whitelist", "file", 0);
  av_dict_set(options.out(), "format_whitelist", supported_demuxers, 0);
  int result = avformat_open_input(&raw, ("file:" + path).c_str(), nullptr, options.out());
  if (result < 0) {
    if (result == AVERROR_INVALIDDATA) {
      if (std::string const name = sniff_container(path); !name.empty()) {
        fail(vantor_result_check_failed, "the " + name + " container is not supported (supported: " +
                                             supported_containers_text + ")");
      }
    }
    // libavformat knows the format, but it is not on the list.
    if (result == AVERROR(EINVAL)) {
      fail(vantor_result_check_failed, std::string("cannot open the file: it is none of the containers read here (") +
                                           supported_containers_text + ")");
    }
    fail(vantor_result_io_error, "cannot open the file: " + libav::error_text(result) +
                                     (result == AVERROR_EOF ? " (the file is truncated)" : ""));
  }
  context.reset(raw);
  policy = container_policy_of(*context->iformat);
  if (policy.has_data_references) refuse_what_the_moov_hides();
  if (max_pixels != 0) refuse_pictures_above_the_limit();
  {
    // The probing decoders refuse what the run would refuse, so that a
    // crafted header costs nothing while the streams are analysed.
    stream_options_t probe(context->nb_streams);
    if (max_pixels != 0) probe.set_all("max_pixels", static_cast<int64_t>(max_pixels));
    result = avformat_find_stream_info(context.get(), probe.data());
  }
  if (max_pixels != 0) refuse_pictures_above_the_limit();
  if (result < 0) {
    fail(vantor_result_io_error, "cannot read the stream information: " + libav::error_text(result));
  }
  packet.reset(av_packet_alloc());
  if (!packet) fail(vantor_result_libav_failure, "libavcodec failed to allocate a packet");
  choose_stream();
  describe_track();
  prime();
}

// A header may claim any picture size; the decoders would allocate it,
// reference after reference. Known from the container's sample description,
// or from the parameter sets once the streams are analysed.
void file_sample_source_t::impl_t::refuse_pictures_above_the_limit() const {
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    AVCodecParameters const& par = *context->streams[i]->codecpar;
    if (!is_wanted(par) || par.width <= 0 || par.height <= 0) continue;
    uint64_t const pixels = uint64_t(par.width) * uint64_t(par.height);
    if (pixels <= max_pixels) continue;
    fail(vantor_result_check_failed, "the video's pictures are " + std::to_string(par.width) + "x" +
                                         std::to_string(par.height) + " (" + std::to_string(pixels) +
                                         " pixels), more than the " + std::to_string(max_pixels) + " allowed");
  }
}

// libavformat reads a track whose data reference names another file from
// this one anyway (or skips it), and what fails then says nothing of why.
// An index of more samples than the file has bytes is a lie that would cost
// memory by the sample until libavformat's allocation bound stops it, after
// which the file would look truncated. The streams are known from the moov:
// the video read is the first wanted.
void file_sample_source_t::impl_t::refuse_what_the_moov_hides() const {
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    AVStream const* const candidate = context->streams[i];
    if (!is_wanted(*candidate->codecpar)) continue;
    mp4_track_facts_t const facts = mp4_track_facts(path, static_cast<uint32_t>(candidate->id));
    if (facts.samples_elsewhere) {
      fail(vantor_result_check_failed,
           "the video's samples are in another file (an external data reference" +
               (facts.samples_elsewhere->empty() ? std::string() : " to \"" + *facts.samples_elsewhere + "\"") +
               "); only files that hold their own samples are read");
    }
    int64_t const file_bytes = context->pb ? avio_size(context->pb) : -1;
    if (file_bytes >= 0 && facts.declared_samples > static_cast<uint64_t>(file_bytes)) {
      fail(vantor_result_check_failed, "the index claims " + std::to_string(facts.declared_samples) +
                                           " samples, more than a file of " + std::to_string(file_bytes) +
                                           " bytes can hold");
    }
    return;
  }
}

void file_sample_source_t::impl_t::choose_stream() {
  std::string found;
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    AVStream* candidate = context->streams[i];
    AVCodecParameters const* par = candidate->codecpar;
    if (is_wanted(*par) && !stream) {
      stream = candidate;
    } else {
      candidate->discard = AVDISCARD_ALL;
    }
    const char* type = av_get_media_type_string(par->codec_type);
    found += (found.empty() ? "" : ", ") + std::string(type ? type : "unknown") + " " +
             avcodec_get_name(par->codec_id);
  }
  if (!stream) {
    fail(vantor_result_check_failed, "no H.264 or HEVC video stream (streams: " +
                                         (found.empty() ? std::string("none") : found) + ")");
  }
  if (policy.times_from_durations) {
    // Without reordering, presentation order is decode order and the times
    // follow from the durations. With reordering they would need the
    // pictures' order counts, which only a container records.
    if (stream->codecpar->video_delay > 0) {
      fail(vantor_result_check_failed,
           std::string("a raw ") +
               (stream->codecpar->codec_id == AV_CODEC_ID_HEVC ? "HEVC" : "H.264") +
               " elementary stream with reordered pictures (B-frames) carries no timestamps; "
               "put it in a container first, e.g. " +
               raw_example(stream->codecpar->codec_id));
    }
  }
}

void file_sample_source_t::impl_t::describe_track() {
  AVCodecParameters const* par = stream->codecpar;
  AVRational time_base = stream->time_base;
  if (time_base.num <= 0 || time_base.den <= 0) {
    fail(vantor_result_check_failed, "the stream's time base " + std::to_string(time_base.num) +
                                         "/" + std::to_string(time_base.den) + " is not valid");
  }
  av_reduce(&time_base.num, &time_base.den, time_base.num, time_base.den,
            std::numeric_limits<int>::max());
  tick_multiplier = time_base.num;

  trak.codec = par->codec_id == AV_CODEC_ID_HEVC ? codec_t::hevc : codec_t::avc;
  trak.width = par->width > 0 ? static_cast<uint32_t>(par->width) : 0;
  trak.height = par->height > 0 ? static_cast<uint32_t>(par->height) : 0;
  AVRational sar = stream->sample_aspect_ratio;
  if (sar.num <= 0 || sar.den <= 0) sar = par->sample_aspect_ratio;
  if (sar.num > 0 && sar.den > 0) {
    trak.sar = fraction_t<unsigned int, unsigned int>{static_cast<unsigned>(sar.num),
                                                      static_cast<unsigned>(sar.den)};
  }
  trak.media_timescale = static_cast<uint32_t>(time_base.den);
  trak.orientation = orientation_of_stream(*stream);
  if (std::optional<std::string> const refusal = dolby_vision_refusal(*stream)) fail(vantor_result_check_failed, *refusal);
  // avcC and hvcC records start with configurationVersion 1; Annex B
  // extradata starts with a start code, and its samples are Annex B too.
  if (par->extradata_size > 0 && par->extradata[0] == 1) {
    trak.decoder_config.assign(par->extradata, par->extradata + par->extradata_size);
  }
  nal_layout = nal_layout_of(trak.codec, trak.decoder_config);

  if (std::optional<int64_t> duration = ticks(stream->duration); duration && *duration > 0) {
    std::optional<int64_t> const start = ticks(stream->start_time);
    bool const segment = policy.duration_may_be_segment_end && stream->nb_frames == 0;
    if (segment && start && *start > 0 && *start < *duration) *duration -= *start;
    trak.duration = static_cast<uint64_t>(*duration);
  } else if (context->duration > 0 &&
             context->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE) {
    int64_t const scaled =
        libav::rescale(context->duration, AV_TIME_BASE, time_base.den, libav::rounding_t::nearest).value_or(0);
    if (scaled > 0) trak.duration = static_cast<uint64_t>(scaled);
  }

  if (policy.times_from_durations && stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0) {
    // One frame: frame_rate.den / frame_rate.num seconds.
    raw_frame_duration = libav::rescale(stream->avg_frame_rate.den, stream->avg_frame_rate.num, time_base.den,
                                        libav::rounding_t::nearest)
                             .value_or(0);
  }

  info.container = context->iformat->name;
  if (const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(par->format))) {
    info.pixel_format_name = name;
  }
  info.duration_seconds = trak.media_timescale ? double(trak.duration) / trak.media_timescale : 0.0;
  info.frame_count = stream->nb_frames > 0 ? static_cast<uint64_t>(stream->nb_frames) : 0;
}

// Whether the file ends inside one of the whole packets it is made of.
bool file_sample_source_t::impl_t::cut_inside_a_packet() const {
  if (policy.packet_sizes[0] == 0 || !context->pb) return false;
  int64_t const size = avio_size(context->pb);
  if (size <= 0) return false;
  for (int const packet_size : policy.packet_sizes) {
    if (packet_size > 0 && size % packet_size == 0) return false;
  }
  return true;
}

// Queues one packet of the stream. False at the end or at a fault (which is
// stored, to be thrown once the samples before it are delivered).
bool file_sample_source_t::impl_t::read_packet() {
  if (at_end || fault) return false;
  libav_log_scope_t const scope(log_context);
  for (;;) {
    int const result = av_read_frame(context.get(), packet.get());
    if (result == AVERROR_EOF) {
      at_end = true;
      if (context->pb && context->pb->error < 0 && context->pb->error != AVERROR_EOF) {
        set_fault(vantor_result_io_error, "read error after " + std::to_string(packets_read) +
                                              " samples: " + libav::error_text(context->pb->error));
      } else if (!seeked && info.frame_count > 0 && packets_read < info.frame_count) {
        set_fault(vantor_result_io_error,
                  "the file is truncated: it ends after " + std::to_string(packets_read) + " of " +
                      std::to_string(info.frame_count) + " samples");
      } else if (cut_inside_a_packet()) {
        // A transport stream's duration comes from its last times, so a
        // cut shows only in its size.
        set_fault(vantor_result_io_error, "the file is truncated: it ends inside a transport "
                                          "packet after " + std::to_string(packets_read) + " samples");
      } else if (std::optional<int64_t> end = expected_end();
                 policy.duration_shows_a_cut && info.frame_count == 0 && end && max_pts_end &&
                 saturated_add(*max_pts_end, std::max<int64_t>(max_packet_duration, 1)) < *end) {
        // Containers that announce no sample count (Matroska) end quietly
        // when cut; their duration still tells. A cut inside the last
        // group of reordered pictures can go unnoticed.
        set_fault(vantor_result_io_error,
                  "the file is truncated: its samples end at " + std::to_string(*max_pts_end) +
                      " of " + std::to_string(*end) + " ticks (" +
                      std::to_string(trak.media_timescale) + " per second)");
      }
      return false;
    }
    if (result < 0) {
      at_end = true;
      set_fault(vantor_result_io_error, "cannot read sample " + std::to_string(packets_read) +
                                            " (the file may be truncated): " + libav::error_text(result));
      return false;
    }
    if (packet->stream_index != stream->index) {
      av_packet_unref(packet.get());
      continue;
    }
    // Other containers start at a keyframe, or at a recovery point that
    // libavformat may not flag.
    keyframe_seen = keyframe_seen || !policy.may_start_mid_gop || (packet->flags & AV_PKT_FLAG_KEY) != 0;
    if (!keyframe_seen) {
      ++packets_read;
      av_packet_unref(packet.get());
      continue;
    }
    queued_packet_t queued;
    queued.number = packets_read++;
    queued.data = buckets_create();
    buckets_append(*queued.data, packet->data, packet->data + packet->size);
    queued.dts = ticks(packet->dts);
    queued.pts = ticks(packet->pts);
    queued.duration = ticks(packet->duration).value_or(0);
    if (queued.duration < 0) queued.duration = 0;
    queued.key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
    queued.corrupt = (packet->flags & AV_PKT_FLAG_CORRUPT) != 0;
    queued.unreferenced = !queued.key && is_unreferenced_picture(nal_layout, packet->data,
                                                                 static_cast<size_t>(packet->size));
    av_packet_unref(packet.get());

    if (policy.times_from_durations) {
      if (queued.duration <= 0) queued.duration = raw_frame_duration;
      if (queued.duration <= 0) {
        set_fault(vantor_result_check_failed, "sample " + std::to_string(queued.number) +
                                                  " of the raw stream has no duration; put it in a "
                                                  "container first, e.g. " +
                                                  raw_example(stream->codecpar->codec_id));
        return false;
      }
      queued.dts = queued.pts = next_raw_time;
      std::optional<int64_t> const next = add_ticks(next_raw_time, queued.duration);
      if (!next) {
        set_fault(vantor_result_check_failed, "sample " + std::to_string(queued.number) +
                                                  ": the time after it does not fit in 64 bits");
        return false;
      }
      next_raw_time = *next;
    }

    if (queued.pts) {
      int64_t const end = saturated_add(*queued.pts, queued.duration);
      if (!max_pts_end || end > *max_pts_end) max_pts_end = end;
    }
    max_packet_duration = std::max(max_packet_duration, queued.duration);

    // A decode time left unset after the first known one follows from the
    // previous packet's time and duration.
    if (!queued.dts && last_dts && last_duration > 0) queued.dts = add_ticks(*last_dts, last_duration);
    if (queued.dts) {
      last_dts = queued.dts;
      last_duration = queued.duration;
    }
    queue.push_back(std::move(queued));
    return true;
  }
}

// Reads until the first decode time is known, derives the unset ones before
// it from the packet durations, and fixes the shift of all times.
void file_sample_source_t::impl_t::prime() {
  while ((queue.empty() || !queue.back().dts) && read_packet()) {
  }
  if (queue.empty()) {
    if (fault) throw *fault;
    fail(vantor_result_check_failed, "the file has no video samples (an initialization segment "
                                     "alone?)");
  }
  fill_decode_times();
  int64_t const first = *queue.front().dts;
  first_unshifted_dts = first;
  shift = first < 0 ? checked(sub_ticks(0, first), "the shift of the first decode time") : 0;
  first_dts = segment_first_dts = static_cast<uint64_t>(first + shift);
  if (policy.hides_pictures_before_time_0) presentation_start = static_cast<uint64_t>(shift);
}

// Derives the decode times left unset before the first known one.
void file_sample_source_t::impl_t::fill_decode_times() {
  if (!queue.back().dts) {
    // Only possible when the stream ends (or breaks) before any decode time
    // is known. Without reordering, decode order is presentation order.
    if (fault) throw *fault;
    if (stream->codecpar->video_delay > 0) {
      fail(vantor_result_check_failed, "the container gives no decode times");
    }
    for (queued_packet_t& queued : queue) queued.dts = queued.pts;
  }
  for (size_t i = queue.size() - 1; i-- > 0;) {
    if (queue[i].dts) continue;
    if (queue[i].duration <= 0) {
      fail(vantor_result_check_failed, "sample " + std::to_string(queue[i].number) +
                                           " has neither a decode time nor a duration");
    }
    queue[i].dts = checked(sub_ticks(*queue[i + 1].dts, queue[i].duration),
                           "sample " + std::to_string(queue[i].number) + ": its decode time");
  }
  for (const queued_packet_t& queued : queue) {
    if (!queued.dts) {
      fail(vantor_result_check_failed, "sample " + std::to_string(queued.number) + " has no decode time");
    }
  }
}

bool file_sample_source_t::impl_t::droppable(const queued_packet_t& queued) const {
  if (queued.corrupt) return false;  // its damage is reported, never hidden
  if (sync_only && !queued.key) return true;
  if (!needed_from || !queued.pts) return false;
  std::optional<int64_t> const pts = add_ticks(*queued.pts, shift);
  if (!pts || *pts >= *needed_from) return false;
  return queued.key ? sync_only : queued.unreferenced;
}

// Leaves out the samples before the next one that nothing needs; once a
// sample is delivered, the one after it is fixed too (its decode time ends
// the delivered sample's duration).
void file_sample_source_t::impl_t::settle_front() {
  if (front_settled) return;
  for (;;) {
    while (queue.empty() && read_packet()) {
    }
    if (queue.empty() || !droppable(queue.front())) break;
    queue.pop_front();
  }
  if (!queue.empty() && queue.front().dts) {
    segment_first_dts = static_cast<uint64_t>(
        checked(add_ticks(*queue.front().dts, shift), "the first decode time"));
  }
  front_settled = true;
}

bool file_sample_source_t::impl_t::can_seek() const {
  return policy.seeks_by_index && context->pb &&
         (context->pb->seekable & AVIO_SEEKABLE_NORMAL) != 0 &&
         avformat_index_get_entries_count(stream) > 0;
}

// The index time of the last sync sample at or before `ticks` (presentation,
// shifted): a decode time in MP4, a presentation time in Matroska.
std::optional<uint64_t> file_sample_source_t::impl_t::sync_sample_before(uint64_t ticks) const {
  if (!can_seek() || ticks > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
  std::optional<int64_t> const unshifted = sub_ticks(static_cast<int64_t>(ticks), shift);
  if (!unshifted) return std::nullopt;
  int const index = av_index_search_timestamp(stream, *unshifted / tick_multiplier, AVSEEK_FLAG_BACKWARD);
  if (index < 0) return std::nullopt;
  const AVIndexEntry* const entry = avformat_index_get_entry(stream, index);
  if (entry == nullptr) return std::nullopt;
  std::optional<int64_t> const time = add_ticks(entry->timestamp * tick_multiplier, shift);
  if (!time || *time < 0) return 0;
  return static_cast<uint64_t>(*time);
}

void file_sample_source_t::impl_t::restart_reading() {
  queue.clear();
  at_end = false;
  last_dts.reset();
  last_duration = 0;
  front_settled = false;
  seeked = true;
}

// Sample numbers (in messages, and in the check for a file cut short)
// count from the first sample; after a seek a complete index tells them.
void file_sample_source_t::impl_t::renumber_after_seek() {
  if (queue.empty() || !queue.front().dts || info.frame_count == 0 ||
      static_cast<uint64_t>(avformat_index_get_entries_count(stream)) != info.frame_count) {
    return;
  }
  int64_t const dts = *queue.front().dts / tick_multiplier;
  int const index = av_index_search_timestamp(stream, dts, AVSEEK_FLAG_ANY | AVSEEK_FLAG_BACKWARD);
  const AVIndexEntry* const entry = index >= 0 ? avformat_index_get_entry(stream, index) : nullptr;
  if (entry == nullptr || entry->timestamp != dts) return;
  uint64_t number = static_cast<uint64_t>(index);
  for (queued_packet_t& queued : queue) queued.number = number++;
  packets_read = number;
  seeked = false;
}

// Moves to the sync sample at or before presentation time `ticks`. The
// index may be of decode times, and a picture decoded from a sync sample
// may lie after the time (open GOPs drop their leading pictures), so the
// sample found is checked and an earlier one taken until it is not later.
bool file_sample_source_t::impl_t::seek(uint64_t ticks) {
  if (!can_seek() || fault || ticks > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
  std::optional<int64_t> const unshifted = sub_ticks(static_cast<int64_t>(ticks), shift);
  if (!unshifted) return false;
  libav_log_scope_t const scope(log_context);
  int64_t target = *unshifted / tick_multiplier;
  for (int attempt = 0; attempt < 16; ++attempt) {
    if (av_seek_frame(context.get(), stream->index, target, AVSEEK_FLAG_BACKWARD) < 0) {
      if (attempt == 0) return false;
      // The position is lost: read on from the start.
      target = std::numeric_limits<int64_t>::min();
      if (av_seek_frame(context.get(), stream->index, target, AVSEEK_FLAG_BACKWARD) < 0) {
        set_fault(vantor_result_io_error, "cannot seek in the file");
        restart_reading();
        return true;
      }
    }
    restart_reading();
    while ((queue.empty() || !queue.back().dts) && read_packet()) {
    }
    if (queue.empty()) return true;  // at the end: nothing after the time
    fill_decode_times();
    renumber_after_seek();
    queued_packet_t const& front = queue.front();
    bool const at_first = first_unshifted_dts && *front.dts <= *first_unshifted_dts;
    std::optional<int64_t> const pts = front.pts ? add_ticks(*front.pts, shift) : std::nullopt;
    if (at_first || target == std::numeric_limits<int64_t>::min() ||
        (front.key && pts && *pts <= static_cast<int64_t>(ticks))) {
      return true;
    }
    int64_t const landed = std::min(*front.dts, front.pts.value_or(*front.dts)) / tick_multiplier;
    target = std::min(target, landed) - 1;
  }
  return true;
}

std::optional<full_sample_t> file_sample_source_t::impl_t::next_sample() {
  settle_front();
  for (;;) {
    while (queue.size() < 2 && read_packet()) {
    }
    if (queue.size() < 2 || !droppable(queue[1])) break;
    queue.erase(queue.begin() + 1);
  }
  if (queue.empty()) {
    if (fault && !kept->error) kept->error = *fault;
    return std::nullopt;
  }
  queued_packet_t& current = queue.front();
  std::string const name = "sample " + std::to_string(current.number);
  if (current.corrupt) {
    // The damage comes first, whatever the reads after it found.
    return end_at_damage(vantor_result_io_error, name + " is cut short or damaged (the file may be truncated)");
  }
  if (!current.dts) fail(vantor_result_check_failed, name + " has no decode time");
  // Matroska gives blocks before time 0 no presentation time; they are
  // decoded for the pictures after them and dropped after decoding.
  if (!current.pts && !policy.times_from_durations && *current.dts < 0) current.pts = current.dts;
  if (!current.pts) {
    fail(vantor_result_check_failed, name + " has no presentation time; put the stream in a container first, e.g. " +
                                         raw_example(stream->codecpar->codec_id));
  }
  int64_t const dts = *current.dts;
  int64_t const shifted_dts = checked(add_ticks(dts, shift), name + ": its shifted decode time");
  if (shifted_dts < 0) {
    fail(vantor_result_check_failed, name + ": decode time " + std::to_string(dts) +
                                         " lies before the first sample's");
  }

  int64_t duration = 0;
  if (queue.size() >= 2 && queue[1].dts) {
    duration = checked(sub_ticks(*queue[1].dts, dts), name + ": its duration");
    if (duration < 0) {
      fail(vantor_result_check_failed, "decode times go backwards at sample " +
                                           std::to_string(queue[1].number) + " (" +
                                           std::to_string(*queue[1].dts) + " after " +
                                           std::to_string(dts) + ")" + policy.backward_times_cause);
    }
  } else if (current.duration > 0) {
    duration = current.duration;
  } else if (trak.duration > 0 && first_dts + trak.duration > static_cast<uint64_t>(shifted_dts)) {
    uint64_t const left = first_dts + trak.duration - static_cast<uint64_t>(shifted_dts);
    duration = static_cast<int64_t>(std::min<uint64_t>(left, std::numeric_limits<int64_t>::max()));
  } else {
    duration = previous_sample_duration;
  }
  if (duration > std::numeric_limits<uint32_t>::max()) {
    // A clock that jumps by years is damage: the pictures before it are good.
    return end_at_damage(vantor_result_check_failed,
                         name + ": duration " + std::to_string(duration) + " does not fit in 32 bits");
  }
  int64_t const offset = checked(sub_ticks(*current.pts, dts), name + ": its composition offset");
  if (offset < std::numeric_limits<int32_t>::min() || offset > std::numeric_limits<int32_t>::max()) {
    fail(vantor_result_check_failed, name + ": composition offset " + std::to_string(offset) +
                                         " does not fit in 32 bits");
  }

  previous_sample_duration = static_cast<uint32_t>(duration);
  last_delivered_dts = static_cast<uint64_t>(shifted_dts);
  sample_flags_t const flags = sample_flags_t::make(current.key ? sample_flags_t::sync_sample : 0);
  full_sample_t sample(static_cast<uint32_t>(duration), static_cast<int32_t>(offset), 1, flags,
                       std::nullopt, std::move(current.data), buckets_create());
  queue.pop_front();
  return sample;
}

// ---------------------------------------------------------------------------

file_sample_source_t::file_sample_source_t(std::unique_ptr<impl_t> impl) : impl_(std::move(impl)) {}

file_sample_source_t::~file_sample_source_t() = default;

std::unique_ptr<file_sample_source_t> file_sample_source_t::open(const std::string& path,
                                                                log_context_t* log_context, uint64_t max_pixels) {
  auto impl = std::make_unique<impl_t>();
  impl->log_context = log_context;
  impl->max_pixels = max_pixels;
  impl->open(path);
  return std::unique_ptr<file_sample_source_t>(new file_sample_source_t(std::move(impl)));
}

const trak_t& file_sample_source_t::trak() const { return impl_->trak; }

uint64_t file_sample_source_t::first_dts() const {
  impl_->settle_front();
  return impl_->segment_first_dts;
}

void file_sample_source_t::leave_out_before(std::optional<uint64_t> ticks, bool sync_only) {
  impl_->needed_from = ticks ? std::optional<int64_t>(static_cast<int64_t>(
                                   std::min<uint64_t>(*ticks, std::numeric_limits<int64_t>::max())))
                             : std::nullopt;
  impl_->sync_only = sync_only;
}

bool file_sample_source_t::can_seek() const { return impl_->can_seek(); }

std::optional<uint64_t> file_sample_source_t::sync_sample_before(uint64_t ticks) const {
  return impl_->sync_sample_before(ticks);
}

bool file_sample_source_t::seek(uint64_t ticks) { return impl_->seek(ticks); }

std::vector<file_sample_source_t::sync_sample_t> file_sample_source_t::sync_samples() const {
  impl_t const& impl = *impl_;
  std::vector<sync_sample_t> samples;
  int const entries = impl.can_seek() ? avformat_index_get_entries_count(impl.stream) : 0;
  // Only a complete index has the decode time of every sample.
  if (!impl.policy.index_holds_decode_times || impl.info.frame_count == 0 || static_cast<uint64_t>(entries) != impl.info.frame_count) {
    return samples;
  }
  for (int i = 0; i < entries; ++i) {
    const AVIndexEntry* const entry = avformat_index_get_entry(impl.stream, i);
    if (entry == nullptr) return {};
    if ((entry->flags & AVINDEX_KEYFRAME) != 0) {
      std::optional<int64_t> const time = add_ticks(entry->timestamp * impl.tick_multiplier, impl.shift);
      if (!time || *time < 0) return {};
      samples.push_back(sync_sample_t{static_cast<uint64_t>(*time), 0});
    }
    if (!samples.empty()) samples.back().run_bytes += static_cast<uint64_t>(entry->size);
  }
  return samples;
}

std::vector<uint64_t> file_sample_source_t::sync_sample_decode_times() const {
  std::vector<uint64_t> times;
  for (const sync_sample_t& sample : sync_samples()) times.push_back(sample.decode_time);
  return times;
}

bool file_sample_source_t::seek_to_sync_sample(uint64_t decode_time) {
  impl_t& impl = *impl_;
  // libavformat seeks MP4 by presentation time, moved by its edit list: the
  // last sync sample shown before the next one's decode time is this one.
  std::vector<uint64_t> const times = sync_sample_decode_times();
  auto const next = std::upper_bound(times.begin(), times.end(), decode_time);
  uint64_t const before_next = next != times.end() ? *next - 1 : std::numeric_limits<int64_t>::max();
  if (!impl.seek(before_next) || impl.queue.empty()) return false;
  std::optional<int64_t> const landed = add_ticks(*impl.queue.front().dts, impl.shift);
  return impl.queue.front().key && landed && static_cast<uint64_t>(*landed) == decode_time;
}

void file_sample_source_t::start_anew() noexcept { impl_->front_settled = false; }

uint64_t file_sample_source_t::last_delivered_dts() const noexcept { return impl_->last_delivered_dts; }

std::optional<full_sample_t> file_sample_source_t::read_sample() { return impl_->next_sample(); }

const file_stream_info_t& file_sample_source_t::stream_info() const noexcept { return impl_->info; }

uint64_t file_sample_source_t::presentation_start() const noexcept {
  return impl_->presentation_start;
}

uint64_t file_sample_source_t::start_time() const noexcept {
  std::optional<int64_t> const start = impl_->ticks(impl_->stream->start_time);
  if (!start) return 0;
  std::optional<int64_t> const shifted = add_ticks(*start, impl_->shift);
  if (!shifted || *shifted <= static_cast<int64_t>(impl_->presentation_start)) return 0;
  return static_cast<uint64_t>(*shifted) - impl_->presentation_start;
}

std::shared_ptr<const source_fault_t> file_sample_source_t::fault() const noexcept { return impl_->kept; }

std::unique_ptr<sample_source_t> open_file_sample_source(const std::string& path, log_context_t* log_context) {
  return file_sample_source_t::open(path, log_context);
}

}  // namespace vantor::sources
