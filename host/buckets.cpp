#include "buckets.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "exception.hpp"

namespace vantor {

namespace {

// The chain's last span, when the chain may still write into its block: the
// span ends at the block's write frontier and the block has room left. Bytes
// past the frontier belong to no chain, so writing there disturbs no reader,
// whatever other chains share the block.
detail::bucket_span_t* writable_tail(buckets_t& chain) {
  if (chain.spans.empty()) return nullptr;
  detail::bucket_span_t& tail = chain.spans.back();
  detail::bucket_block_t& block = *tail.block;
  if (tail.end != block.used || block.used == block.capacity) return nullptr;
  return &tail;
}

// Appends [first, last): first into the room of the tail block, the rest
// into one new block of at least `min_block_size` bytes.
void append_bytes(buckets_t& chain, const uint8_t* first, const uint8_t* last,
                  size_t min_block_size) {
  VANTOR_CHECK(first <= last);
  size_t remaining = static_cast<size_t>(last - first);
  if (remaining == 0) return;

  if (detail::bucket_span_t* tail = writable_tail(chain)) {
    detail::bucket_block_t& block = *tail->block;
    size_t const n = std::min(remaining, block.capacity - block.used);
    std::memcpy(block.bytes.get() + block.used, first, n);
    block.used += n;
    tail->end = block.used;
    chain.size += n;
    first += n;
    remaining -= n;
  }
  if (remaining == 0) return;

  auto block = std::make_shared<detail::bucket_block_t>();
  block->capacity = std::max(remaining, min_block_size);
  block->bytes.reset(new uint8_t[block->capacity]);
  std::memcpy(block->bytes.get(), first, remaining);
  block->used = remaining;
  // A failing push_back leaves the chain as it was (a span moves without
  // throwing). No exact reserve before it: that would copy every span on
  // every new block, quadratic in a payload that comes in many blocks.
  chain.spans.push_back(detail::bucket_span_t{std::move(block), 0, remaining});
  chain.size += remaining;
}

}  // namespace

void buckets_exit(buckets_t* chain) { delete chain; }

unique_buckets_ptr_t buckets_create() { return unique_buckets_ptr_t(new buckets_t()); }

unique_buckets_ptr_t buckets_split(buckets_t& chain, size_t n) {
  VANTOR_CHECK(n <= chain.size);
  unique_buckets_ptr_t head = buckets_create();

  // Count the spans that move whole, and find the one that is cut.
  size_t whole = 0;
  size_t taken = 0;
  while (whole < chain.spans.size()) {
    detail::bucket_span_t const& span = chain.spans[whole];
    size_t const length = span.end - span.begin;
    if (taken + length > n) break;
    taken += length;
    ++whole;
  }
  size_t const cut = n - taken;  // bytes of span `whole` that go to the head

  head->spans.reserve(whole + (cut > 0 ? 1 : 0));
  for (size_t i = 0; i < whole; ++i) head->spans.push_back(std::move(chain.spans[i]));
  if (cut > 0) {
    detail::bucket_span_t& shared = chain.spans[whole];
    head->spans.push_back(detail::bucket_span_t{shared.block, shared.begin, shared.begin + cut});
    shared.begin += cut;
  }
  head->size = n;

  if (whole == chain.spans.size() && whole > 0) {
    // Everything moved. The chain keeps an empty view of its last block at
    // the write frontier, so a writer can go on filling the block's room
    // instead of starting a new block for every split-off sample.
    detail::bucket_span_t frontier = head->spans.back();
    frontier.begin = frontier.end;
    chain.spans.clear();
    chain.spans.push_back(std::move(frontier));
  } else {
    chain.spans.erase(chain.spans.begin(), chain.spans.begin() + static_cast<std::ptrdiff_t>(whole));
  }
  chain.size -= n;
  return head;
}

void buckets_append(buckets_t& chain, const uint8_t* first, const uint8_t* last) {
  append_bytes(chain, first, last, 0);
}

size_t buckets_size(const buckets_t& chain) { return chain.size; }

std::vector<uint8_t> buckets_to_vector(const buckets_t& chain) {
  std::vector<uint8_t> bytes;
  bytes.reserve(chain.size);
  buckets_for_each(chain, [&bytes](const uint8_t* data, size_t size) {
    bytes.insert(bytes.end(), data, data + size);
  });
  return bytes;
}

bucket_writer_t::bucket_writer_t(buckets_t& chain, size_t block_size)
    : chain_(chain), block_size_(block_size) {
  VANTOR_CHECK(block_size > 0);
}

void bucket_writer_t::write(const uint8_t* first, const uint8_t* last) {
  append_bytes(chain_, first, last, block_size_);
  written_ += static_cast<size_t>(last - first);
}

unique_buckets_ptr_t bucket_writer_t::split_written() {
  VANTOR_CHECK(written_ <= chain_.size);
  unique_buckets_ptr_t earlier = buckets_split(chain_, chain_.size - written_);
  unique_buckets_ptr_t written = buckets_split(chain_, written_);
  // Put the earlier bytes back in front of whatever the chain still holds
  // (only the empty frontier view, which must stay last).
  chain_.spans.insert(chain_.spans.begin(), std::make_move_iterator(earlier->spans.begin()),
                      std::make_move_iterator(earlier->spans.end()));
  chain_.size += earlier->size;
  written_ = 0;
  return written;
}

}  // namespace vantor
