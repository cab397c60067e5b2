#include "chunked_decode.hpp"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "exception.hpp"
#include "stages/chunk_samples.hpp"
#include "stages/chunk_window.hpp"
#include "stages/presentation_window.hpp"

namespace vantor::tools {

namespace {

struct chunk_result_t {
  std::deque<timed_sample_t> samples;
  bool done = false;
  std::exception_ptr failure;
};

class chunk_runner_t {
 public:
  chunk_runner_t(sources::file_sample_source_t& file, const std::string& path, const std::vector<uint64_t>& starts,
                 unsigned threads, const chunk_chain_t& chain)
      : file_(file), path_(path), starts_(starts), threads_(threads), chain_(chain), results_(starts.size()) {}

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
    while (std::optional<size_t> const chunk = next_chunk()) {
      try {
        decode_chunk(*chunk);
      } catch (...) {
        std::lock_guard<std::mutex> lock(mutex_);
        results_[*chunk].failure = std::current_exception();
      }
      std::lock_guard<std::mutex> lock(mutex_);
      results_[*chunk].done = true;
      changed_.notify_all();
    }
  }

  // A chunk's samples, and the fault that ended them, if one did.
  struct chunk_read_t {
    std::unique_ptr<stages::read_ahead_samples_t> samples;
    std::optional<vantor::exception> fault;
  };

  // The chunks read in the stream's order: a fault in the file ends the
  // chunk it lies in, as it would end one stream, and the file reads on
  // forward. The fault is taken in the chunk's turn: the next chunk's
  // reading may find one of its own.
  chunk_read_t read_chunk(size_t chunk, stages::chunk_span_t& span) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return stopping_ || reading_ == chunk; });
    if (stopping_) return {};
    lock.unlock();
    struct turn_t {
      chunk_runner_t& runner;
      ~turn_t() {
        std::lock_guard<std::mutex> lock(runner.mutex_);
        ++runner.reading_;
        runner.changed_.notify_all();
      }
    } const turn{*this};
    std::optional<uint64_t> const end =
        chunk + 1 < starts_.size() ? std::optional<uint64_t>(starts_[chunk + 1]) : std::nullopt;
    if (!file_.seek_to_sync_sample(starts_[chunk])) {
      if (file_.fault()->error) throw *file_.fault()->error;
      throw vantor::exception(vantor_result_check_failed,
                              "file_sample_source: " + path_ + ": cannot seek to the sync sample at " +
                                  std::to_string(starts_[chunk]) + " ticks");
    }
    auto samples = std::make_unique<stages::read_ahead_samples_t>(file_.trak(), file_.first_dts());
    stages::chunk_samples_t part(file_, end, chunk == 0, span);
    while (std::optional<full_sample_t> sample = part.read_sample()) samples->add(std::move(sample));
    return chunk_read_t{std::move(samples), file_.fault()->error};
  }

  void decode_chunk(size_t chunk) {
    stages::chunk_span_t span;
    chunk_read_t read = read_chunk(chunk, span);
    if (!read.samples) return;
    std::unique_ptr<video::frame_source_t> pictures = chain_.decoder(std::move(read.samples));
    pictures = std::make_unique<stages::chunk_window_t>(std::move(pictures), span);
    pictures = std::make_unique<stages::presentation_window_t>(std::move(pictures), file_.presentation_start());
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
    if (read.fault) throw *read.fault;
  }

  sources::file_sample_source_t& file_;
  const std::string& path_;
  std::vector<uint64_t> const& starts_;
  unsigned const threads_;
  const chunk_chain_t& chain_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<chunk_result_t> results_;
  size_t next_ = 0;      // the next chunk to decode
  size_t reading_ = 0;   // the chunk whose turn it is to read the file
  size_t consumed_ = 0;  // chunks written
  bool stopping_ = false;
};

}  // namespace

std::vector<uint64_t> chunk_starts(const sources::file_sample_source_t& source, uint64_t min_ticks,
                                   uint64_t max_bytes) {
  std::vector<uint64_t> starts;
  uint64_t part_bytes = 0;
  for (const sources::file_sample_source_t::sync_sample_t& sync : source.sync_samples()) {
    if (sync.run_bytes > max_bytes) return {};
    if (starts.empty() || sync.decode_time >= starts.back() + min_ticks || part_bytes + sync.run_bytes > max_bytes) {
      starts.push_back(sync.decode_time);
      part_bytes = 0;
    }
    part_bytes += sync.run_bytes;
  }
  if (!starts.empty() && starts.front() != source.first_dts()) starts.clear();
  return starts;
}

void run_chunked(sources::file_sample_source_t& file, const std::string& path, const std::vector<uint64_t>& starts,
                 unsigned threads, const chunk_chain_t& chain, const std::function<bool(timed_sample_t)>& write) {
  VANTOR_CHECK(threads > 0 && !starts.empty());
  chunk_runner_t(file, path, starts, threads, chain).run(write);
}

}  // namespace vantor::tools
