// One data file of this kind, text or binary: read it and walk it, never a fault.
#include "fuzz_aoff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzAOFFData(kAOFFIndexed, data, size);
  return 0;
}
