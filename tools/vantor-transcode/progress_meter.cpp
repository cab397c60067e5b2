#include "progress_meter.hpp"

#include <algorithm>

namespace vantor::tools {

progress_meter_t::progress_meter_t(bool enabled, double duration_seconds, std::FILE* terminal)
    : enabled_(enabled),
      duration_seconds_(duration_seconds),
      terminal_(terminal),
      start_(clock_t::now()),
      last_draw_(start_) {}

double progress_meter_t::elapsed_seconds() const {
  return std::chrono::duration<double>(clock_t::now() - start_).count();
}

void progress_meter_t::update(uint64_t pictures, double position_seconds) {
  if (!enabled_) return;
  auto const now = clock_t::now();
  if (drawn_ && now - last_draw_ < std::chrono::milliseconds(100)) return;
  last_draw_ = now;
  drawn_ = true;
  double const elapsed = std::chrono::duration<double>(now - start_).count();
  double const fps = elapsed > 0 ? static_cast<double>(pictures) / elapsed : 0;
  if (duration_seconds_ > 0) {
    double const percent = std::clamp(100 * position_seconds / duration_seconds_, 0.0, 100.0);
    std::fprintf(terminal_, "\r\033[K%llu pictures, %3.0f%%, %.1f fps",
                 static_cast<unsigned long long>(pictures), percent, fps);
  } else {
    std::fprintf(terminal_, "\r\033[K%llu pictures, %.1f fps",
                 static_cast<unsigned long long>(pictures), fps);
  }
  std::fflush(terminal_);
}

void progress_meter_t::finish() {
  if (!enabled_ || !drawn_) return;
  std::fputs("\r\033[K", terminal_);
  std::fflush(terminal_);
  drawn_ = false;
}

}  // namespace vantor::tools
