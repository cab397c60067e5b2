#include "chunked_decode.hpp"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "exception.hpp"
#include "transcode/presentation_window.hpp"

namespace vantor::tools {

namespace {

// Where a chunk's pictures lie, in the samples' presentation ticks: from its
// first sync sample's time (none for the first chunk) to the next chunk's.
struct chunk_span_t {
  std::optional<uint64_t> from;
  std::optional<uint64_t> until;  // known once the next chunk's sync sample is read
};

// The samples of one chunk: from the sync sample the file is positioned at
// up to the sync sample of decode time `end`, which goes to the decoder
// only when leading pictures follow it; those follow too.
class chunk_samples_t final : public sample_source_t {
 public:
  chunk_samples_t(file_sample_source_t& file, std::optional<uint64_t> end, bool first_chunk,
                  chunk_span_t& span)
      : file_(file), end_(end), first_chunk_(first_chunk), span_(span), cursor_(file.first_dts()) {}

  const trak_t& trak() const override { return file_.trak(); }
  uint64_t first_dts() const override { return file_.first_dts(); }

  std::optional<full_sample_t> read_sample() override {
    if (held_) return std::exchange(held_, std::nullopt);
    if (ended_) return std::nullopt;
    std::optional<full_sample_t> sample = next();
    if (!sample) return sample;
    // A decoder that starts at a later sync sample shows nothing good
    // before it: those pictures come from the chunk before.
    if (!first_chunk_ && !span_.from) span_.from = last_pts_;
    if (!end_ || last_dts_ < *end_) return sample;
    if (!span_.until) {
      span_.until = last_pts_;
      std::optional<full_sample_t> following = next();
      if (following && last_pts_ < *span_.until) {
        held_ = std::move(following);
        return sample;
      }
    } else if (last_pts_ < *span_.until) {
      return sample;
    }
    ended_ = true;
    return std::nullopt;
  }

 private:
  std::optional<full_sample_t> next() {
    std::optional<full_sample_t> sample = file_.read_sample();
    if (sample) {
      last_dts_ = cursor_;
      last_pts_ = static_cast<uint64_t>(static_cast<int64_t>(cursor_) + sample->composition_offset());
      cursor_ += sample->duration();
    }
    return sample;
  }

  file_sample_source_t& file_;
  std::optional<uint64_t> const end_;
  bool const first_chunk_;
  chunk_span_t& span_;
  uint64_t cursor_;
  uint64_t last_dts_ = 0;  // of the sample read last
  uint64_t last_pts_ = 0;
  std::optional<full_sample_t> held_;
  bool ended_ = false;
};

// Passes on the decoded pictures that lie in the chunk's span.
class chunk_window_t final : public video::frame_source_t {
 public:
  chunk_window_t(std::unique_ptr<video::frame_source_t> input, const chunk_span_t& span)
      : input_(std::move(input)), span_(span) {}

  video::frame_t operator()() override {
    for (;;) {
      video::frame_t frame = (*input_)();
      if (frame.is_end_of_stream()) {
        if (span_.until) frame.pts_ = *span_.until;  // the next chunk starts there
        return frame;
      }
      if (span_.from && frame.pts_ < *span_.from) continue;
      if (span_.until && frame.pts_ >= *span_.until) continue;
      return frame;
    }
  }

 private:
  std::unique_ptr<video::frame_source_t> input_;
  const chunk_span_t& span_;
};

struct chunk_result_t {
  std::deque<timed_sample_t> samples;
  bool done = false;
  std::exception_ptr failure;
};

class chunk_runner_t {
 public:
  chunk_runner_t(const std::string& path, const std::vector<uint64_t>& starts, unsigned threads,
                 const chunk_chain_t& chain)
      : path_(path), starts_(starts), threads_(threads), chain_(chain), results_(starts.size()) {}

  void run(const std::function<bool(timed_sample_t)>& write) {
    std::vector<std::thread> workers;
    // Workers stop at the next chunk they would take once `stopping_` is set,
    // also when writing fails here.
    struct joiner_t {
      chunk_runner_t& runner;
      std::vector<std::thread>& workers;
      ~joiner_t() {
        runner.stop();
        for (std::thread& worker : workers) worker.join();
      }
    } const joiner{*this, workers};
    for (unsigned i = 0; i < threads_; ++i) workers.emplace_back([this] { work(); });
    for (size_t chunk = 0; chunk < results_.size(); ++chunk) {
      for (;;) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return !results_[chunk].samples.empty() || results_[chunk].done; });
        chunk_result_t& result = results_[chunk];
        if (result.samples.empty()) {
          if (result.failure) std::rethrow_exception(result.failure);
          break;
        }
        timed_sample_t sample = std::move(result.samples.front());
        result.samples.pop_front();
        lock.unlock();
        if (!write(std::move(sample))) return;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      consumed_ = chunk + 1;
      changed_.notify_all();
    }
  }

 private:
  void stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
  }

  // Takes the next chunk while at most `threads_` are ahead of the writer.
  std::optional<size_t> next_chunk() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return stopping_ || next_ >= starts_.size() || next_ < consumed_ + threads_; });
    if (stopping_ || next_ >= starts_.size()) return std::nullopt;
    return next_++;
  }

  void work() noexcept {
    std::unique_ptr<file_sample_source_t> file;
    while (std::optional<size_t> const chunk = next_chunk()) {
      try {
        if (!file) file = file_sample_source_t::open(path_);
        decode_chunk(*file, *chunk);
      } catch (...) {
        std::lock_guard<std::mutex> lock(mutex_);
        results_[*chunk].failure = std::current_exception();
      }
      std::lock_guard<std::mutex> lock(mutex_);
      results_[*chunk].done = true;
      changed_.notify_all();
    }
  }

  void decode_chunk(file_sample_source_t& file, size_t chunk) {
    std::optional<uint64_t> const end =
        chunk + 1 < starts_.size() ? std::optional<uint64_t>(starts_[chunk + 1]) : std::nullopt;
    if (!file.seek_to_sync_sample(starts_[chunk])) {
      if (file.fault()->error) throw *file.fault()->error;
      throw vantor::exception(vantor_result_check_failed,
                              "file_sample_source: " + path_ + ": cannot seek to the sync sample at " +
                                  std::to_string(starts_[chunk]) + " ticks");
    }
    chunk_span_t span;
    auto samples = std::make_unique<chunk_samples_t>(file, end, chunk == 0, span);
    std::unique_ptr<video::frame_source_t> pictures = chain_.decoder(std::move(samples));
    pictures = std::make_unique<chunk_window_t>(std::move(pictures), span);
    pictures = std::make_unique<video::presentation_window_t>(std::move(pictures), file.presentation_start());
    std::unique_ptr<sample_source_t> encoded = chain_.encoder(chain_.stages(std::move(pictures)));
    uint64_t dts = encoded->first_dts();
    while (std::optional<full_sample_t> sample = encoded->read_sample()) {
      uint64_t const duration = sample->duration();
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
      results_[chunk].samples.push_back(timed_sample_t{encoded->trak(), dts, std::move(*sample)});
      dts += duration;
      changed_.notify_all();
    }
    if (file.fault()->error) throw *file.fault()->error;
  }

  std::string const path_;
  std::vector<uint64_t> const& starts_;
  unsigned const threads_;
  const chunk_chain_t& chain_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<chunk_result_t> results_;
  size_t next_ = 0;      // the next chunk to decode
  size_t consumed_ = 0;  // chunks written
  bool stopping_ = false;
};

}  // namespace

std::vector<uint64_t> chunk_starts(const file_sample_source_t& source, uint64_t min_ticks) {
  std::vector<uint64_t> starts;
  for (uint64_t const time : source.sync_sample_decode_times()) {
    if (starts.empty() || time >= starts.back() + min_ticks) starts.push_back(time);
  }
  if (!starts.empty() && starts.front() != source.first_dts()) starts.clear();
  return starts;
}

void run_chunked(const std::string& path, const std::vector<uint64_t>& starts, unsigned threads,
                 const chunk_chain_t& chain, const std::function<bool(timed_sample_t)>& write) {
  VANTOR_CHECK(threads > 0 && !starts.empty());
  chunk_runner_t(path, starts, threads, chain).run(write);
}

}  // namespace vantor::tools
