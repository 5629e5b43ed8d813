// The 3DS reader from file to finished model: any input must load or end with a message, never a
// fault, a hang or a runaway allocation.
#include "fuzz_support.h"

#include "normalsObj.h"
#include "readers.h"
#include "shape.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzWriteObject("fuzz.3ds", data, size);
  try {
    CreateShape(kType3DS);
    Load3DSObject();
    Part &part = *currentShape->part;
    ComputeFacetNormals(part);
    ComputeVertexNormals(part);
    FitObject(part);
    BuildVertexFacetLists(part);
  } catch (const FatalError &) {
  }
  ReleaseShape();
  return 0;
}
