// Conversion of an OFF polygon list into the display model.
#include "base/fatal.h"
#include "viewer/readers/readPLObj.h"
#include "viewer/model/object.h"

#include <cstdint>

static const char *kModule = "formatObj";

void PLFormatObj(const PolyList &list, Shape &shape) {
  Part &part = *shape.part;
  const std::size_t nv = static_cast<std::size_t>(list.vert_count);
  const std::size_t np = static_cast<std::size_t>(list.poly_count);
  part.facet_offset = 1;
  part.vertex_count = static_cast<uint32_t>(nv);
  part.facet_count = static_cast<uint32_t>(np);

  ALLOC_ARRAY(part.vertices, nv, "Coord", kModule);
  if (list.flags & kPLVertexNormals) ALLOC_ARRAY(part.vertex_normals, nv, "Vector", kModule);
  if (list.flags & kPLVertexColors) ALLOC_ARRAY(part.vertex_colors, nv, "ColorRGB", kModule);
  ALLOC_ARRAY(part.facets, np, "FacetList", kModule);
  if (list.flags & kPLPolygonColors) ALLOC_ARRAY(part.polygon_colors, np, "ColorRGB", kModule);

  for (std::size_t i = 0; i < nv; ++i) {
    const Vert &v = list.verts[i];
    // A fourth coordinate is dropped, not divided by.
    part.vertices[i] = Coord{v.point[0], v.point[1], v.point[2]};
    if (!part.vertex_normals.empty())
      part.vertex_normals[i] = Vector{v.normal[0], v.normal[1], v.normal[2]};
    if (!part.vertex_colors.empty())
      part.vertex_colors[i] = ColorRGB{v.color[0], v.color[1], v.color[2]};
  }

  // Files may count vertices from 0 or from 1: one that never uses index 0 is taken as one-based.
  std::size_t total = 0;
  bool zeroSeen = false;
  for (std::size_t k = 0; k < np; ++k) {
    const int32_t *idx = list.indices(k);
    const std::size_t count = static_cast<std::size_t>(list.polys[k].count);
    total += count;
    for (std::size_t j = 0; j < count && !zeroSeen; ++j) zeroSeen = idx[j] == 0;
  }
  const uint32_t offset = zeroSeen ? 0 : 1;
  if (total > UINT32_MAX) fatal(1, "PLFormatObj: %s has too many facet indices\n", objName.c_str());
  ALLOC_ARRAY(part.facet_vertex_pool, total, "uint", kModule);

  uint32_t *out = part.facet_vertex_pool.data();
  uint32_t first = 0;
  for (std::size_t k = 0; k < np; ++k) {
    const Poly &poly = list.polys[k];
    const int32_t *idx = list.indices(k);
    const uint32_t count = static_cast<uint32_t>(poly.count);
    for (uint32_t j = 0; j < count; ++j) {
      uint32_t index = static_cast<uint32_t>(idx[j]) - offset;
      if (idx[j] < 0 || index >= part.vertex_count)
        fatal(1, "PLFormatObj: %s: bad index %d on polygon %zu (of %u vertices)\n", objName.c_str(),
              idx[j], k, part.vertex_count);
      out[j] = index;
    }
    part.facets[k] = FacetList{count, first};
    out += count;
    first += count;
    if (!part.polygon_colors.empty())
      part.polygon_colors[k] = ColorRGB{poly.color[0], poly.color[1], poly.color[2]};
  }
  part.facet_offset = 0;
}
