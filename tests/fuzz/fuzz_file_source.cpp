// libFuzzer target over fuzz_file_source (see file_source_entry.hpp).
#include <cstddef>
#include <cstdint>

#include "fuzz/file_source_entry.hpp"
#include "fuzz/service_limits.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vantor::fuzz::apply_service_limits();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantor::fuzz::fuzz_file_source(data, size);
  return 0;
}
