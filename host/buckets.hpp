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

// Moves the FIRST `n` bytes of `chain` into a new chain; the chain keeps the
// rest. Whole blocks change hands; a block cut in two is shared by both
// chains, never copied. Throws 13 when the chain holds fewer than `n` bytes.
//
// With a bucket_writer_t, a split of writer.size() right after writing one
// packet takes exactly that packet only when the chain was empty at the
// reset; the JPEG encoder keeps its working chain empty between packets.
// bucket_writer_t::split_written() takes the written bytes in any case.
//
// Chains that share a block may be read anywhere, but must only be written
// from one thread.
unique_buckets_ptr_t buckets_split(buckets_t& chain, size_t n);

// Appends the bytes [first, last) to the end of `chain` (one copy).
void buckets_append(buckets_t& chain, const uint8_t* first, const uint8_t* last);

size_t buckets_size(const buckets_t& chain);

// Calls `visit(data, size)` for every non-empty block, in order.
template <typename Visit>
void buckets_for_each(const buckets_t& chain, Visit&& visit);

// The chain's bytes in one vector (a copy; meant for tests and tools).
std::vector<uint8_t> buckets_to_vector(const buckets_t& chain);

// Writes into a chain and counts the bytes written since the last reset().
// A write fills the room left in the chain's last block first (also after a
// split took all the bytes: the chain keeps writing into that block), and
// puts the rest into a new block of `block_size` bytes, or of the rest's
// size when that is larger.
class bucket_writer_t {
 public:
  bucket_writer_t(buckets_t& chain, size_t block_size);

  void reset() noexcept { written_ = 0; }
  void write(const uint8_t* first, const uint8_t* last);
  size_t size() const noexcept { return written_; }
  // Moves the bytes written since the last reset (the LAST size() bytes of
  // the chain) into a new chain, leaves any earlier bytes where they were,
  // and resets the count.
  unique_buckets_ptr_t split_written();

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
