// A host that links libvantor_ffmpeg_utils: file -> decoder -> resize -> JPEG.
// Prints the number of JPEG samples and their total duration in ticks.
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

#include "ffmpeg_utils/exports.hpp"
#include "log_context.hpp"
#include "sources/file_sample_source.hpp"
#include "stages/fit_rect.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: library_host INPUT\n");
    return 2;
  }
  vantor::log_context_t log(vantor::vantor_log_warning);
  auto samples = vantor::sources::open_file_sample_source(argv[1]);
  vantor::trak_t const trak = samples->trak();
  auto pictures = vantor::video::create_avcodec_avc_decoder(log, std::move(samples));
  vantor::stages::picture_rect_t const rect =
      vantor::stages::fit_rect(trak.width, trak.height, trak.sar, {160, 160});
  pictures = vantor::video::create_swscale_resize_filter(log, std::move(pictures), 160, 160, rect.x,
                                                         rect.y, rect.width, rect.height);
  auto jpegs = vantor::video::create_avcodec_jpg_encoder(log, std::move(pictures), std::nullopt, 50);
  unsigned long count = 0, ticks = 0;
  while (std::optional<vantor::full_sample_t> sample = jpegs->read_sample()) {
    ++count;
    ticks += sample->duration();
  }
  std::printf("%lu %lu\n", count, ticks);
  return 0;
}
