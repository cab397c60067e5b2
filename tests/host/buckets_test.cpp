#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "buckets.hpp"
#include "exception.hpp"

namespace vantor {
namespace {

std::vector<uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

std::string text_of(const buckets_t& chain) {
  std::vector<uint8_t> const bytes = buckets_to_vector(chain);
  return {bytes.begin(), bytes.end()};
}

void write_text(bucket_writer_t& writer, const std::string& text) {
  auto const* first = reinterpret_cast<const uint8_t*>(text.data());
  writer.write(first, first + text.size());
}

// The sizes of the non-empty pieces, as a reader sees them.
std::vector<size_t> piece_sizes(const buckets_t& chain) {
  std::vector<size_t> sizes;
  buckets_for_each(chain, [&sizes](const uint8_t*, size_t size) { sizes.push_back(size); });
  return sizes;
}

std::vector<const uint8_t*> piece_addresses(const buckets_t& chain) {
  std::vector<const uint8_t*> addresses;
  buckets_for_each(chain, [&addresses](const uint8_t* data, size_t) { addresses.push_back(data); });
  return addresses;
}

TEST(bucket_writer, fills_the_tail_block_before_starting_a_new_one) {
  unique_buckets_ptr_t chain = buckets_create();
  bucket_writer_t writer(*chain, 8);
  write_text(writer, "abcde");
  write_text(writer, "fghij");
  EXPECT_EQ(text_of(*chain), "abcdefghij");
  EXPECT_EQ(piece_sizes(*chain), (std::vector<size_t>{8, 2}));
  EXPECT_EQ(writer.size(), 10u);
  EXPECT_EQ(buckets_size(*chain), 10u);
}

TEST(bucket_writer, large_write_goes_into_one_block_of_its_own_size) {
  unique_buckets_ptr_t chain = buckets_create();
  bucket_writer_t writer(*chain, 4);
  write_text(writer, "0123456789");
  EXPECT_EQ(piece_sizes(*chain), (std::vector<size_t>{10}));
  // The block is full, so the next write starts a block of block_size.
  write_text(writer, "x");
  EXPECT_EQ(piece_sizes(*chain), (std::vector<size_t>{10, 1}));
}

TEST(bucket_writer, a_payload_of_many_blocks_grows_its_span_list_geometrically) {
  // A payload handed over in one-byte blocks (as a host may): each block is
  // a span, and the span list must not be copied on every one of them.
  unique_buckets_ptr_t chain = buckets_create();
  std::vector<uint8_t> const bytes(20000, 0x5a);
  size_t moves = 0;
  const void* storage = nullptr;
  for (size_t at = 0; at < bytes.size(); ++at) {
    bucket_writer_t(*chain, 1).write(&bytes[at], &bytes[at] + 1);
    if (chain->spans.data() != storage) {
      storage = chain->spans.data();
      ++moves;
    }
  }
  EXPECT_EQ(buckets_size(*chain), bytes.size());
  EXPECT_EQ(chain->spans.size(), bytes.size());
  EXPECT_LT(moves, 64u);
}

TEST(buckets_split, takes_the_first_bytes_and_shares_the_cut_block) {
  unique_buckets_ptr_t chain = buckets_create();
  bucket_writer_t writer(*chain, 4);
  write_text(writer, "abcd");
  write_text(writer, "efgh");
  write_text(writer, "ij");
  std::vector<const uint8_t*> const before = piece_addresses(*chain);

  unique_buckets_ptr_t head = buckets_split(*chain, 6);
  EXPECT_EQ(text_of(*head), "abcdef");
  EXPECT_EQ(text_of(*chain), "ghij");
  EXPECT_EQ(buckets_size(*head), 6u);
  EXPECT_EQ(buckets_size(*chain), 4u);

  // No byte was copied: the head reads the original blocks, and the rest of
  // the cut block is read in place by the chain.
  std::vector<const uint8_t*> const head_pieces = piece_addresses(*head);
  std::vector<const uint8_t*> const rest_pieces = piece_addresses(*chain);
  ASSERT_EQ(head_pieces.size(), 2u);
  ASSERT_EQ(rest_pieces.size(), 2u);
  EXPECT_EQ(head_pieces[0], before[0]);
  EXPECT_EQ(head_pieces[1], before[1]);
  EXPECT_EQ(rest_pieces[0], before[1] + 2);
  EXPECT_EQ(rest_pieces[1], before[2]);
}

TEST(buckets_split, zero_and_everything) {
  std::vector<uint8_t> const bytes = bytes_of("xyz");
  unique_buckets_ptr_t chain = buckets_create();
  buckets_append(*chain, bytes.data(), bytes.data() + bytes.size());

  unique_buckets_ptr_t none = buckets_split(*chain, 0);
  EXPECT_EQ(buckets_size(*none), 0u);
  EXPECT_EQ(text_of(*chain), "xyz");

  unique_buckets_ptr_t all = buckets_split(*chain, 3);
  EXPECT_EQ(text_of(*all), "xyz");
  EXPECT_EQ(buckets_size(*chain), 0u);
  EXPECT_TRUE(piece_sizes(*chain).empty());
}

TEST(buckets_split, more_than_the_chain_holds_is_a_check_failure) {
  unique_buckets_ptr_t chain = buckets_create();
  std::vector<uint8_t> const bytes = bytes_of("ab");
  buckets_append(*chain, bytes.data(), bytes.data() + bytes.size());
  try {
    buckets_split(*chain, 3);
    FAIL() << "no exception";
  } catch (const exception& error) {
    EXPECT_EQ(error.result(), vantor_result_check_failed);
    EXPECT_EQ(error.expression(), "n <= chain.size");
  }
  EXPECT_EQ(text_of(*chain), "ab");
}

// The encoder's pattern: the working chain is empty between packets; each
// packet is written after a reset and split off whole.
TEST(buckets_split, packet_after_packet_from_an_empty_working_chain) {
  unique_buckets_ptr_t chain = buckets_create();
  bucket_writer_t writer(*chain, 64);
  std::vector<unique_buckets_ptr_t> samples;
  std::vector<std::string> expected;
  for (int i = 0; i < 40; ++i) {
    std::string packet(static_cast<size_t>(1 + (i * 7) % 50), static_cast<char>('a' + i % 26));
    writer.reset();
    write_text(writer, packet);
    samples.push_back(buckets_split(*chain, writer.size()));
    expected.push_back(packet);
    EXPECT_EQ(buckets_size(*chain), 0u);
  }
  // Later writes went into the room of blocks that earlier samples share,
  // but never over an earlier sample's bytes.
  for (size_t i = 0; i < samples.size(); ++i) EXPECT_EQ(text_of(*samples[i]), expected[i]) << i;
}

TEST(buckets_split, writing_continues_in_the_block_of_a_sample_split_off_whole) {
  unique_buckets_ptr_t chain = buckets_create();
  bucket_writer_t writer(*chain, 64);
  write_text(writer, "first");
  unique_buckets_ptr_t first = buckets_split(*chain, writer.size());
  writer.reset();
  write_text(writer, "second");
  unique_buckets_ptr_t second = buckets_split(*chain, writer.size());
  EXPECT_EQ(text_of(*first), "first");
  EXPECT_EQ(text_of(*second), "second");
  EXPECT_EQ(piece_addresses(*second)[0], piece_addresses(*first)[0] + 5);
  // The chains are independent owners: the block lives while one of them does.
  first.reset();
  EXPECT_EQ(text_of(*second), "second");
}

TEST(bucket_writer, split_written_takes_only_the_bytes_since_the_reset) {
  unique_buckets_ptr_t chain = buckets_create();
  bucket_writer_t writer(*chain, 8);
  write_text(writer, "old");
  writer.reset();
  write_text(writer, "packet-bytes");
  unique_buckets_ptr_t packet = writer.split_written();
  EXPECT_EQ(text_of(*packet), "packet-bytes");
  EXPECT_EQ(text_of(*chain), "old");
  EXPECT_EQ(writer.size(), 0u);
  write_text(writer, "+more");
  EXPECT_EQ(text_of(*chain), "old+more");
  EXPECT_EQ(text_of(*packet), "packet-bytes");
  EXPECT_EQ(text_of(*writer.split_written()), "+more");
  EXPECT_EQ(text_of(*chain), "old");
}

TEST(buckets_append, appends_after_existing_bytes_and_split_chains_stay_intact) {
  std::vector<uint8_t> data(1000);
  std::iota(data.begin(), data.end(), uint8_t{0});
  unique_buckets_ptr_t chain = buckets_create();
  for (size_t at = 0; at < data.size(); at += 100) {
    buckets_append(*chain, data.data() + at, data.data() + at + 100);
  }
  unique_buckets_ptr_t head = buckets_split(*chain, 250);
  unique_buckets_ptr_t middle = buckets_split(*chain, 500);
  EXPECT_EQ(buckets_to_vector(*head), std::vector<uint8_t>(data.begin(), data.begin() + 250));
  EXPECT_EQ(buckets_to_vector(*middle), std::vector<uint8_t>(data.begin() + 250, data.begin() + 750));
  EXPECT_EQ(buckets_to_vector(*chain), std::vector<uint8_t>(data.begin() + 750, data.end()));
}

}  // namespace
}  // namespace vantor
