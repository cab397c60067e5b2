#pragma once

#include <memory>
#include <utility>

#include "no_options.hpp"
#include "plugin.hpp"

namespace vantor::plugins {

using create_decoder_t = std::unique_ptr<video::frame_source_t> (*)(
    log_context_t&, std::unique_ptr<sample_source_t>);

// The factory of a decoder module: the decoders take no options, so the two
// decoder modules differ only in the library function they call.
template <create_decoder_t create_decoder>
class avcodec_decoder_factory_t : public video_decoder_factory_t {
 public:
  ~avcodec_decoder_factory_t() override = default;

  std::unique_ptr<video::frame_source_t> create(host_context_t& context,
                                                std::unique_ptr<sample_source_t> input,
                                                const transcoder_config_t& config) const override {
    check_no_options(reader_, config);
    return create_decoder(context.log_context, std::move(input));
  }

 private:
  no_options_reader_t reader_;
};

}  // namespace vantor::plugins
