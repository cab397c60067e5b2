#pragma once

namespace vantor {

// A plain numerator/denominator pair; nothing is reduced or checked.
template <typename N, typename D>
struct fraction_t {
  N num;
  D den;

  friend bool operator==(const fraction_t& a, const fraction_t& b) {
    return a.num == b.num && a.den == b.den;
  }
  friend bool operator!=(const fraction_t& a, const fraction_t& b) { return !(a == b); }
};

}  // namespace vantor
