#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "exception.hpp"
#include "mp4_full_sample.hpp"
#include "support/memory_sample_source.hpp"
#include "trak.hpp"

namespace vantor {
namespace {

constexpr const char* constructor_text =
    "vantor::full_sample_t::full_sample_t(uint32_t, int32_t, uint32_t, vantor::sample_flags_t, "
    "std::optional<std::vector<vantor::subs_t::subsample_t> >, vantor::unique_buckets_ptr_t, "
    "vantor::unique_buckets_ptr_t)";

void expect_missing_chain(unique_buckets_ptr_t data, unique_buckets_ptr_t aux_data,
                          const std::string& expression) {
  try {
    full_sample_t sample(1, 0, 1, sample_flags_t{}, std::nullopt, std::move(data), std::move(aux_data));
    FAIL() << "no exception";
  } catch (const exception& error) {
    EXPECT_EQ(error.result(), vantor_result_check_failed);
    EXPECT_TRUE(error.is_assertion());
    EXPECT_EQ(error.file(), "mp4_full_sample.cpp");
    EXPECT_EQ(error.function(), constructor_text);
    EXPECT_EQ(error.expression(), expression);
  }
}

TEST(full_sample, missing_chains_fail_their_checks_in_order) {
  expect_missing_chain(nullptr, buckets_create(), "data");
  expect_missing_chain(buckets_create(), nullptr, "aux_data");
  expect_missing_chain(nullptr, nullptr, "data");
}

TEST(sample_flags, encoder_constant_reads_as_sync_and_zero_does_not) {
  EXPECT_TRUE(sample_flags_t::make(0x0040018).is_sync_sample());
  EXPECT_TRUE(sample_flags_t::make(sample_flags_t::sync_sample).is_sync_sample());
  EXPECT_FALSE(sample_flags_t::make(sample_flags_t::depends_on_none | sample_flags_t::not_depended_on)
                   .is_sync_sample());
  EXPECT_FALSE(sample_flags_t{}.is_sync_sample());
}

TEST(sample_flags, value_initialised_word_is_zero_and_make_keeps_the_top_bits_clear) {
  sample_flags_t const zero{};
  uint32_t word = 0xffffffffu;
  std::memcpy(&word, &zero, sizeof word);
  EXPECT_EQ(word, 0u);
  sample_flags_t const all = sample_flags_t::make(0xffffffffu);
  std::memcpy(&word, &all, sizeof word);
  EXPECT_EQ(all.bits_, 0x0fffffffu);
  EXPECT_EQ(all.reserved_, 0u);
}

TEST(trak, jpeg_track_carries_size_and_sar_and_leaves_the_timescale_to_the_caller) {
  trak_t trak = create_jpeg_trak(640, 360, fraction_t<unsigned, unsigned>{4, 3});
  EXPECT_EQ(trak.codec, codec_t::jpeg);
  EXPECT_EQ(trak.width, 640u);
  EXPECT_EQ(trak.height, 360u);
  ASSERT_TRUE(trak.sar);
  EXPECT_EQ(trak.sar->num, 4u);
  EXPECT_EQ(trak.sar->den, 3u);
  EXPECT_TRUE(trak.decoder_config.empty());
  trak.media_timescale = 90000;
  EXPECT_EQ(trak.media_timescale, 90000u);
  EXPECT_FALSE(create_jpeg_trak(2, 2, std::nullopt).sar);
}

TEST(memory_sample_source, delivers_the_samples_then_nothing_and_counts_every_call) {
  using testing::memory_sample_t;
  testing::memory_sample_source_t source(testing::make_video_trak(codec_t::hevc, 600), 12,
                                         {memory_sample_t{{1, 2, 3, 4, 5}, 20, 40, true},
                                          memory_sample_t{{6}, 21, -3, false}});
  source.set_payload_block_size(2);
  auto counter = source.read_call_counter();
  EXPECT_EQ(source.trak().media_timescale, 600u);
  EXPECT_EQ(source.first_dts(), 12u);

  std::optional<full_sample_t> first = source.read_sample();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->duration(), 20u);
  EXPECT_EQ(first->composition_offset(), 40);
  EXPECT_TRUE(first->is_sync_sample());
  EXPECT_EQ(buckets_to_vector(first->data()), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  std::vector<size_t> pieces;
  buckets_for_each(first->data(), [&pieces](const uint8_t*, size_t n) { pieces.push_back(n); });
  EXPECT_EQ(pieces, (std::vector<size_t>{2, 2, 1}));

  std::optional<full_sample_t> second = source.read_sample();
  ASSERT_TRUE(second);
  EXPECT_FALSE(second->is_sync_sample());
  EXPECT_EQ(second->composition_offset(), -3);

  EXPECT_FALSE(source.read_sample());
  EXPECT_FALSE(source.read_sample());
  EXPECT_EQ(*counter, 4u);
  EXPECT_EQ(source.read_calls(), 4u);
}

}  // namespace
}  // namespace vantor
