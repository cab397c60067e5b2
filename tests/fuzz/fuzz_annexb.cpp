// libFuzzer target over fuzz_annexb (see annexb_entry.hpp).
#include <cstddef>
#include <cstdint>

#include "fuzz/annexb_entry.hpp"
#include "fuzz/service_limits.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vantor::fuzz::apply_service_limits();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantor::fuzz::fuzz_annexb(data, size);
  return 0;
}
