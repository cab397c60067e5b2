#pragma once

// What every fuzz entry shares: a cursor over the input bytes and the
// exception that reports a broken invariant. The entries are headers so
// that the libFuzzer targets (clang) and the regression test (GCC) compile
// the very same code.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantor::fuzz {

// Not a vantor::exception on purpose: an entry lets it escape, so libFuzzer
// records the input as a crash and the regression test fails on it.
class finding_t : public std::logic_error {
 public:
  explicit finding_t(const std::string& what) : std::logic_error("fuzz finding: " + what) {}
};

inline void require(bool condition, const std::string& what) {
  if (!condition) throw finding_t(what);
}

// Reads the input front to back; past the end every read yields zeros or
// nothing, so any byte string is a valid input.
class byte_reader_t {
 public:
  byte_reader_t(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool empty() const noexcept { return at_ == size_; }
  size_t left() const noexcept { return size_ - at_; }

  uint8_t u8() noexcept { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t u16() noexcept {
    uint16_t const high = u8();
    return static_cast<uint16_t>(high << 8 | u8());
  }
  // Up to `n` bytes; fewer when the input ends first.
  std::vector<uint8_t> bytes(size_t n) {
    size_t const take = std::min(n, left());
    std::vector<uint8_t> out(data_ + at_, data_ + at_ + take);
    at_ += take;
    return out;
  }
  std::vector<uint8_t> rest() { return bytes(left()); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

inline void put_u16(std::vector<uint8_t>& out, size_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

}  // namespace vantor::fuzz
