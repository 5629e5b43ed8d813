#include "viewer/readers/partReaders.h"

#include "base/fatal.h"

#include <new>
#include <utility>

std::unique_ptr<Part> NewPartRecord(const char *module, int line) {
  std::unique_ptr<Part> part;
  allocOrReport([&] { part = std::make_unique<Part>(); }, "Part", 1, line, module);
  // The record starts empty: nothing but the arrays the reader fills is ever read from it.
  part->back_faces = 0;
  part->facet_offset = 0;
  part->vertex_order = 0;
  return part;
}

void MovePartGeometry(Part &from, Part &to) {
  to.facet_offset = 0;
  to.vertex_count = from.vertex_count;
  to.vertices = std::move(from.vertices);
  to.facet_count = from.facet_count;
  to.facets = std::move(from.facets);
  to.facet_vertex_pool = std::move(from.facet_vertex_pool);
  from.vertex_count = 0;
  from.facet_count = 0;
}

void BYUFormatObj(Part &record, Shape &shape) {
  MovePartGeometry(record, *shape.part);
}
