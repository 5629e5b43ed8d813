// The 3DS reader from file to finished model: any input must load or end with a message, never a
// fault, a hang or a runaway allocation.
#include "fuzz_readers.h"
#include "viewer/readers/formatTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzWriteObject("fuzz.3ds", data, size);
  FuzzLoad(kType3DS, Load3DSObject);
  return 0;
}
