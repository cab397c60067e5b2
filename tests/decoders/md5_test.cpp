// The digest helper against the RFC 1321 test suite, including inputs that
// end exactly at and just past a padding boundary, and input fed in pieces.

#include <gtest/gtest.h>

#include <string>

#include "support/md5.hpp"

namespace vantor::testing {
namespace {

TEST(md5, matches_the_rfc_1321_suite) {
  EXPECT_EQ(md5_t::of(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(md5_t::of("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5_t::of("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(md5_t::of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(md5_t::of("1234567890123456789012345678901234567890123456789012345678901234567890"
                      "1234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(md5, pads_inputs_around_the_block_boundary) {
  EXPECT_EQ(md5_t::of(std::string(55, 'x')), "04364420e25c512fd958a70738aa8f72");
  EXPECT_EQ(md5_t::of(std::string(56, 'x')), "668a72d5ba17f08e62dabcafad6db14b");
  EXPECT_EQ(md5_t::of(std::string(63, 'x')), "7dc2ca208106a2f703567bdff99d8981");
  EXPECT_EQ(md5_t::of(std::string(64, 'x')), "c1bb4f81d892b2d57947682aeb252456");
  EXPECT_EQ(md5_t::of(std::string(65, 'x')), "1bc932052302d074bdec39795fe00cf6");
}

TEST(md5, gives_the_same_digest_for_input_fed_in_pieces) {
  std::string const text(1000, 'a');
  md5_t pieces;
  for (size_t at = 0; at < text.size(); at += 7) {
    size_t const size = std::min<size_t>(7, text.size() - at);
    pieces.update(reinterpret_cast<const uint8_t*>(text.data() + at), size);
  }
  EXPECT_EQ(pieces.hex(), md5_t::of(text));
  EXPECT_EQ(md5_t::of(text), "cabe45dcc9ae5b66ba86600cca6b8ba8");
}

}  // namespace
}  // namespace vantor::testing
