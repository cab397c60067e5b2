#include "pellix/hexdump.hpp"

namespace pellix {

void hexdump_t::print(std::ostream& out) const&& {
  static const char digits[] = "0123456789abcdef";
  size_t const size = begin_ && end_ > begin_ ? static_cast<size_t>(end_ - begin_) : 0;
  size_t const shown = size < max_shown_ ? size : max_shown_;
  out << "[" << size << (size == 1 ? " byte" : " bytes");
  if (size != 0) out << ":";
  for (size_t i = 0; i < shown; ++i) {
    char const hex[3] = {' ', digits[begin_[i] >> 4], digits[begin_[i] & 0xf]};
    out.write(hex, 3);
  }
  if (shown < size) out << " \xe2\x80\xa6 " << (size - shown) << " more";
  out << "]";
}

}  // namespace pellix
