// The OFF reader and its conversion: any input must give a list, none, or a message, never a fault,
// and a list it gives must convert with every index inside the vertex array.
#include "fuzz_support.h"
#include "viewer/readers/readPLObj.h"
#include "viewer/model/shape.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<char> buf(reinterpret_cast<const char *>(data),
                        reinterpret_cast<const char *>(data) + size);
  std::unique_ptr<PolyList> list;
  try {
    list = PLReadBuffer(buf.data(), buf.size(), "fuzz.off");
  } catch (const FatalError &) {
    return 0;
  }
  if (!list) return 0;
  if (list->verts.size() != static_cast<size_t>(list->vert_count)) std::abort();
  CreateShape(2);
  try {
    PLFormatObj(*list, *currentShape);
    const Part &part = *currentShape->part;
    for (uint32_t v : part.facet_vertex_pool)
      if (v >= part.vertex_count) std::abort();
  } catch (const FatalError &) {
  }
  ReleaseShape();
  return 0;
}
