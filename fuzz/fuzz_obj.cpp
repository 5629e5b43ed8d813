// Any bytes as an OBJ object (its material library, when it names one, is the same bytes): a
// model or a message, never a fault, a hang or a huge allocation.
#include "fuzz_readers.h"
#include "viewer/readers/formatTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzWriteObject("fuzz.obj", data, size);
  FuzzLoad(kTypeOBJ, LoadOBJObject);
  return 0;
}
