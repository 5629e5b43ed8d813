// Conversion of a repaired STL mesh into the display model: every facet keeps its own three
// vertices and the normal the repair left on it.
#include "base/fatal.h"
#include "viewer/readers/readSTLObj.h"
#include "viewer/model/object.h"

#include <cstdint>
#include <new>
#include <stdexcept>
#include <vector>

static const char *kModule = "formatObj";

template <class T>
static void Reserve(std::vector<T> &v, std::size_t n, const char *type, int line) {
  v.clear();
  try {
    v.reserve(n);
  } catch (const std::bad_alloc &) {
    allocFailed(type, static_cast<long long>(n), line, kModule);
  } catch (const std::length_error &) {
    allocFailed(type, static_cast<long long>(n), line, kModule);
  }
}

void STLFormatObj(const STLObj &obj, Shape &shape) {
  Part &part = *shape.part;
  const int n = obj.stats.number_of_facets;
  if (n < 0 || static_cast<uint64_t>(n) * 3 > UINT32_MAX)
    fatal(1, "STLFormatObj: %s has too many facets (%d)\n", objName.c_str(), n);
  const std::size_t facets = static_cast<std::size_t>(n);
  part.facet_offset = 0;
  part.vertex_count = static_cast<uint32_t>(3 * facets);
  part.facet_count = static_cast<uint32_t>(facets);

  // Each array is written once, in facet order: reserving and appending spares the zero-fill pass
  // over what a million-facet mesh makes a few hundred megabytes.
  Reserve(part.vertices, 3 * facets, "Coord", __LINE__);
  Reserve(part.facets, facets, "FacetList", __LINE__);
  Reserve(part.facet_vertex_pool, 3 * facets, "uint", __LINE__);
  Reserve(part.polygon_normals, facets, "Vector", __LINE__);

  for (std::size_t i = 0; i < facets; ++i) {
    const stl_facet &f = obj.facet_start[i];
    const uint32_t first = static_cast<uint32_t>(3 * i);
    for (std::size_t j = 0; j < 3; ++j) {
      part.vertices.push_back(Coord{f.vertex[j].x, f.vertex[j].y, f.vertex[j].z});
      part.facet_vertex_pool.push_back(first + static_cast<uint32_t>(j));
    }
    part.facets.push_back(FacetList{3, first});
    part.polygon_normals.push_back(Vector{f.normal.x, f.normal.y, f.normal.z});
  }
}
