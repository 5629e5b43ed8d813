#include "viewer/readers/partReaders.h"

#include <utility>

void COORFormatObj(Part &record, Shape &shape) {
  Part &part = *shape.part;
  MovePartGeometry(record, part);
  part.vertex_colors = std::move(record.vertex_colors);
  part.vertex_normals = std::move(record.vertex_normals);
  part.polygon_colors = std::move(record.polygon_colors);
}
