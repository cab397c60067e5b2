#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "libav/libav_helpers.hpp"

namespace vantor::libav {
namespace {

// Each rounding is the one its name says, on both sides of 0, and the
// direction of the conversion is from `from` ticks per second to `to`.
TEST(libav_helpers, rescale_rounds_as_named_and_reports_what_does_not_fit) {
  EXPECT_EQ(rescale(1, 3, 2, rounding_t::down), 0);     // 2/3
  EXPECT_EQ(rescale(1, 3, 2, rounding_t::up), 1);
  EXPECT_EQ(rescale(1, 3, 2, rounding_t::nearest), 1);
  EXPECT_EQ(rescale(-1, 3, 2, rounding_t::down), -1);
  EXPECT_EQ(rescale(-1, 3, 2, rounding_t::up), 0);
  EXPECT_EQ(rescale(3, 2, 1, rounding_t::nearest), 2);  // 1.5: halves away from 0
  EXPECT_EQ(rescale(-3, 2, 1, rounding_t::nearest), -2);
  EXPECT_EQ(rescale(1'001, 1'000'000, 90'000, rounding_t::down), 90);  // 90.09
  EXPECT_EQ(rescale(90, 90'000, 1'000'000, rounding_t::down), 1'000);

  int64_t const largest = std::numeric_limits<int64_t>::max();
  EXPECT_EQ(rescale(largest, 12'800, 12'800, rounding_t::down), largest);
  EXPECT_EQ(rescale(largest / 2 + 1, 1, 2, rounding_t::down), std::nullopt);
  EXPECT_EQ(rescale(-(largest / 2) - 2, 1, 2, rounding_t::down), std::nullopt);
  EXPECT_EQ(rescale(5, 0, 1, rounding_t::down), std::nullopt);   // no timescale
  EXPECT_EQ(rescale(5, 1, -1, rounding_t::down), std::nullopt);
  EXPECT_EQ(rescale(5, 1, 0, rounding_t::down), 0);
  EXPECT_EQ(rescale(AV_NOPTS_VALUE, 1, 1, rounding_t::down), std::nullopt);
}

}  // namespace
}  // namespace vantor::libav
