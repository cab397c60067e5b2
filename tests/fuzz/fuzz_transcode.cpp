// libFuzzer target over fuzz_transcode (see transcode_entry.hpp).
#include <cstddef>
#include <cstdint>

#include "fuzz/transcode_entry.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Parses the command line, bounds libav and loads the modules.
  (void)vantor::fuzz::transcode_fixture();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantor::fuzz::fuzz_transcode(data, size);
  return 0;
}
