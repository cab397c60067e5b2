#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>

namespace pellix {

// A one-line hex dump of a byte range: "[3 bytes: 01 64 00]". Ranges longer
// than `max_shown` bytes end in "… N more]".
class hexdump_t {
 public:
  hexdump_t(const uint8_t* begin, const uint8_t* end, size_t max_shown = 64)
      : begin_(begin), end_(end), max_shown_(max_shown) {}

  // Meant for a temporary: hexdump_t(b, e).print(out).
  void print(std::ostream& out) const&&;

 private:
  const uint8_t* begin_;
  const uint8_t* end_;
  size_t max_shown_;
};

}  // namespace pellix
