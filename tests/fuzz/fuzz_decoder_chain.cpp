// libFuzzer target over fuzz_decoder_chain (see decoder_chain_entry.hpp).
#include <cstddef>
#include <cstdint>

#include "fuzz/decoder_chain_entry.hpp"
#include "fuzz/service_limits.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vantor::fuzz::apply_service_limits();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantor::fuzz::fuzz_decoder_chain(data, size);
  return 0;
}
