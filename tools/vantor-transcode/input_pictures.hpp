#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "log_context.hpp"
#include "plugin_loader.hpp"
#include "plugin_set.hpp"
#include "sources/file_sample_source.hpp"
#include "stages/seeking_picture_source.hpp"
#include "tool_options.hpp"
#include "trak.hpp"

namespace vantor::tools {

// The input cannot be converted; the message names the file and the cause.
class input_error_t : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The source's messages start with "file_sample_source: <path>: ", and ours
// name the file once already: the message without that prefix.
std::string input_cause(const std::string& path, const std::string& message);

// `ticks` of `timescale` in microseconds, rounded down; none when that does
// not fit or there is no timescale.
std::optional<int64_t> microseconds_of(uint64_t ticks, uint32_t timescale);

// The input file, refused early when its video is nothing the chain takes.
struct opened_input_t {
  std::unique_ptr<sources::file_sample_source_t> source;
  sources::file_stream_info_t info;
  trak_t trak;
  uint64_t presentation_start = 0;
  uint64_t start_ticks = 0;  // where the video starts; the options' times count from here
  std::shared_ptr<const sources::source_fault_t> fault;  // reported once the chain has drained
};

// Throws input_error_t, also for pictures of more than `max_pixels`.
// libavformat's messages go to `log_context`, which outlives the source.
opened_input_t open_input(const std::string& path, uint64_t max_pixels, log_context_t& log_context);

using decoder_factory_t = stages::seeking_picture_source_t::decoder_factory_t;

// Makes the decoders of the input's codec through its plug-in module, each
// reading its samples through a trace, and only while `stop` says go on.
decoder_factory_t decoder_factory(host_context_t& host, plugin_set_t& modules, const opened_input_t& input,
                                  std::function<bool()> stop);

// The decoded pictures on the container's timeline: every one of them, or,
// when the options choose some, the chosen ones, decoding only what they
// need (a picture not chosen is never turned, scaled or encoded).
std::unique_ptr<video::frame_source_t> decoded_pictures(host_context_t& host,
                                                        const decoder_factory_t& make_decoder,
                                                        opened_input_t& input,
                                                        const tool_options_t& options,
                                                        const std::string& path);

}  // namespace vantor::tools
