// Any bytes as a BYU object: a model or a message, never a fault, a hang or a huge allocation.
#include "fuzz_readers.h"
#include "viewer/readers/formatTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzWriteObject("fuzz.byu", data, size);
  FuzzLoad(kTypeBYU, LoadBYUObject);
  return 0;
}
