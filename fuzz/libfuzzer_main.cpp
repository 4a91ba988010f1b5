// The libFuzzer entry of one target; the build names the target's function
// in AUTODELIVER_FUZZ_ENTRY.
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return autodeliver::fuzz::AUTODELIVER_FUZZ_ENTRY(data, size);
}
