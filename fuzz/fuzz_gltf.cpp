// The glTF reader from file to finished model, as a .glb (the reader tells the two forms apart by
// their first bytes, so text inputs reach the JSON path too): any input must load or end with a
// message, never a fault, a hang or a runaway allocation.
#include "fuzz_readers.h"
#include "viewer/readers/formatTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzWriteObject("fuzz.glb", data, size);
  FuzzLoad(kTypeGLTF, LoadGLTFObject);
  return 0;
}
