#pragma once

// A small MD5 (RFC 1321) for comparing decoded pictures with reference
// digests. Feed bytes with update(), read the digest once with hex().

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vantor::testing {

class md5_t {
 public:
  void update(const uint8_t* data, size_t size) {
    length_ += size;
    while (size != 0) {
      size_t const take = std::min(size, block_.size() - fill_);
      std::memcpy(block_.data() + fill_, data, take);
      fill_ += take;
      data += take;
      size -= take;
      if (fill_ == block_.size()) {
        transform(block_.data());
        fill_ = 0;
      }
    }
  }
  void update(const std::vector<uint8_t>& bytes) { update(bytes.data(), bytes.size()); }

  // Lower-case hex digest; pads the message, so call it once, at the end.
  std::string hex() {
    uint64_t const bits = length_ * 8;
    uint8_t const first_pad = 0x80;
    update(&first_pad, 1);
    uint8_t const zero = 0;
    while (fill_ != 56) update(&zero, 1);
    uint8_t tail[8];
    for (int i = 0; i < 8; ++i) tail[i] = static_cast<uint8_t>(bits >> (8 * i));
    update(tail, 8);
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint32_t word : state_) {
      for (int i = 0; i < 4; ++i) {
        uint8_t const byte = static_cast<uint8_t>(word >> (8 * i));
        text += digits[byte >> 4];
        text += digits[byte & 15];
      }
    }
    return text;
  }

  static std::string of(const std::string& text) {
    md5_t md5;
    md5.update(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return md5.hex();
  }

 private:
  static uint32_t rotate(uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

  void transform(const uint8_t* block) {
    static const uint32_t k[64] = {
        0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
        0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
        0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
        0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
        0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
        0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
        0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
        0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
        0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
        0xeb86d391};
    static const unsigned shift[64] = {7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,
                                       12, 17, 22, 5,  9,  14, 20, 5,  9,  14, 20, 5,  9,
                                       14, 20, 5,  9,  14, 20, 4,  11, 16, 23, 4,  11, 16,
                                       23, 4,  11, 16, 23, 4,  11, 16, 23, 6,  10, 15, 21,
                                       6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21};
    uint32_t m[16];
    for (int i = 0; i < 16; ++i) {
      m[i] = uint32_t(block[4 * i]) | uint32_t(block[4 * i + 1]) << 8 |
             uint32_t(block[4 * i + 2]) << 16 | uint32_t(block[4 * i + 3]) << 24;
    }
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (unsigned i = 0; i < 64; ++i) {
      uint32_t f;
      unsigned g;
      if (i < 16) {
        f = (b & c) | (~b & d);
        g = i;
      } else if (i < 32) {
        f = (d & b) | (~d & c);
        g = (5 * i + 1) % 16;
      } else if (i < 48) {
        f = b ^ c ^ d;
        g = (3 * i + 5) % 16;
      } else {
        f = c ^ (b | ~d);
        g = (7 * i) % 16;
      }
      uint32_t const next = b + rotate(a + f + k[i] + m[g], shift[i]);
      a = d;
      d = c;
      c = b;
      b = next;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
  }

  std::array<uint32_t, 4> state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  std::array<uint8_t, 64> block_{};
  size_t fill_ = 0;
  uint64_t length_ = 0;
};

}  // namespace vantor::testing
