// Conversion of a repaired STL mesh into the display model: every facet keeps its own three
// vertices and the normal the repair left on it.
#include "fatal.h"
#include "readSTLObj.h"
#include "shell.h"

#include <cstdint>

static const char *kModule = "formatObj";

void STLFormatObj(const STLObj &obj, Shape &shape) {
  Part &part = *shape.part;
  const int n = obj.stats.number_of_facets;
  if (n < 0 || static_cast<uint64_t>(n) * 3 > UINT32_MAX)
    fatal(1, "STLFormatObj: %s has too many facets (%d)\n", objName.c_str(), n);
  const std::size_t facets = static_cast<std::size_t>(n);
  part.facet_offset = 0;
  part.vertex_count = static_cast<uint32_t>(3 * facets);
  part.facet_count = static_cast<uint32_t>(facets);

  ALLOC_ARRAY(part.vertices, 3 * facets, "Coord", kModule);
  ALLOC_ARRAY(part.facets, facets, "FacetList", kModule);
  ALLOC_ARRAY(part.facet_vertex_pool, 3 * facets, "uint", kModule);
  ALLOC_ARRAY(part.polygon_normals, facets, "Vector", kModule);

  for (std::size_t i = 0; i < facets; ++i) {
    const stl_facet &f = obj.facet_start[i];
    for (std::size_t j = 0; j < 3; ++j) {
      part.vertices[3 * i + j] = Coord{f.vertex[j].x, f.vertex[j].y, f.vertex[j].z};
      part.facet_vertex_pool[3 * i + j] = static_cast<uint32_t>(3 * i + j);
    }
    part.facets[i] = FacetList{3, static_cast<uint32_t>(3 * i)};
    part.polygon_normals[i] = Vector{f.normal.x, f.normal.y, f.normal.z};
  }
}
