// The STL path: the file check, the mesh library's read and repair, and the conversion. Any input
// must load or end with a message, never fault or hang.
#include "fuzz_support.h"
#include "viewer/readers/readSTLObj.h"
#include "viewer/model/shape.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzWriteObject("fuzz.stl", data, size);
  CreateShape(5);
  try {
    STLObjPtr obj = STLReadObj();
    STLFormatObj(*obj, *currentShape);
    const Part &part = *currentShape->part;
    if (part.vertex_count != 3 * part.facet_count) std::abort();
  } catch (const FatalError &) {
  }
  ReleaseShape();
  return 0;
}
