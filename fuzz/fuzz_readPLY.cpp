// The PLY object reader and its conversion on any bytes: a Part whose every index is in range,
// or a message; never a fault.
#include "fuzz_support.h"
#include "viewer/readers/readPLYObj.h"
#include "viewer/readers/formatTable.h"
#include "viewer/model/shape.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzWriteObject("fuzz.ply", data, size);
  CreateShape(kTypePLY);
  try {
    LoadPLYObject();
    const Part &part = *currentShape->part;
    if (part.facets.size() != part.facet_count || part.vertices.size() != part.vertex_count)
      __builtin_trap();
    for (uint32_t f = 0; f < part.facet_count; ++f)
      for (uint32_t i = 0; i < part.facets[f].count; ++i)
        if (part.facetVertices(f)[i] >= part.vertex_count) __builtin_trap();
  } catch (const FatalError &) {
  }
  ReleaseShape();
  return 0;
}
