#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vantor {

// A chain of byte blocks: sample payloads are written into it once and then
// handed on, or split off, without copying the bytes again.
struct buckets_t;

void buckets_exit(buckets_t* chain);

struct buckets_deleter_t {
  void operator()(buckets_t* chain) const { buckets_exit(chain); }
};
using unique_buckets_ptr_t = std::unique_ptr<buckets_t, buckets_deleter_t>;

// A new, empty chain.
unique_buckets_ptr_t buckets_create();

// Moves the first `n` bytes of `chain` into a new chain. Whole blocks change
// hands; a block cut in two is shared by both chains, never copied.
// Throws 13 when the chain holds fewer than `n` bytes.
unique_buckets_ptr_t buckets_split(buckets_t& chain, size_t n);

// Appends the bytes [first, last) to the end of `chain` (one copy).
void buckets_append(buckets_t& chain, const uint8_t* first, const uint8_t* last);

size_t buckets_size(const buckets_t& chain);

// Calls `visit(data, size)` for every non-empty block, in order.
template <typename Visit>
void buckets_for_each(const buckets_t& chain, Visit&& visit);

// The chain's bytes in one vector (a copy; meant for tests and tools).
std::vector<uint8_t> buckets_to_vector(const buckets_t& chain);

// Writes into a chain in blocks of `block_size` bytes and counts the bytes
// written since the last reset().
class bucket_writer_t {
 public:
  bucket_writer_t(buckets_t& chain, size_t block_size);

  void reset() noexcept { written_ = 0; }
  void write(const uint8_t* first, const uint8_t* last);
  size_t size() const noexcept { return written_; }

 private:
  buckets_t& chain_;
  size_t block_size_;
  size_t written_ = 0;
};

// ---------------------------------------------------------------------------

namespace detail {
struct bucket_block_t {
  std::unique_ptr<uint8_t[]> bytes;
  size_t capacity = 0;
  size_t used = 0;  // bytes written into the block
};
struct bucket_span_t {
  std::shared_ptr<bucket_block_t> block;
  size_t begin = 0;  // this chain's view of the block: [begin, end)
  size_t end = 0;
};
}  // namespace detail

struct buckets_t {
  std::vector<detail::bucket_span_t> spans;
  size_t size = 0;
};

template <typename Visit>
void buckets_for_each(const buckets_t& chain, Visit&& visit) {
  for (const detail::bucket_span_t& span : chain.spans) {
    if (span.end > span.begin) visit(span.block->bytes.get() + span.begin, span.end - span.begin);
  }
}

}  // namespace vantor
