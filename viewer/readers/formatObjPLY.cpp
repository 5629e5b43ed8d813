#include "base/fatal.h"
#include "viewer/readers/readPLYObj.h"
#include "viewer/model/object.h"

#include <cstdint>

namespace {

const char *const kModule = "formatObj";

// Colours are kept as 0..1 like every other reader's; the file's bytes run 0..255.
ColorRGB ByteColor(unsigned char r, unsigned char g, unsigned char b) {
  return ColorRGB{r / 255.0f, g / 255.0f, b / 255.0f};
}

} // namespace

void PLYFormatObj(Surface &surface, Shape &shape) {
  Part &part = *shape.part;
  part.facet_offset = 0; // PLY indices count from 0
  part.vertex_count = static_cast<uint32_t>(surface.nverts);
  part.facet_count = static_cast<uint32_t>(surface.nfaces);

  const std::size_t nv = part.vertex_count;
  if (surface.vlist.size() < nv || surface.flist.size() < part.facet_count)
    fatal(1, "PLYFormatObj: %s: fewer records than counted\n", objName.c_str());
  ALLOC_ARRAY(part.vertices, nv, "Coord", kModule);
  bool normals = surface.has_nx && surface.has_ny && surface.has_nz;
  bool vcolors = surface.has_vred && surface.has_vgreen && surface.has_vblue;
  if (normals) ALLOC_ARRAY(part.vertex_normals, nv, "Vector", kModule);
  if (vcolors) ALLOC_ARRAY(part.vertex_colors, nv, "ColorRGB", kModule);
  for (std::size_t j = 0; j < nv; ++j) {
    const PlyVertex &v = surface.vlist[j];
    part.vertices[j] = Coord{v.x, v.y, v.z};
    if (normals) part.vertex_normals[j] = Vector{v.nx, v.ny, v.nz};
    if (vcolors) part.vertex_colors[j] = ByteColor(v.red, v.green, v.blue);
  }
  surface.vlist.release();

  const std::size_t nf = part.facet_count;
  unsigned long long total = surface.corner_count;
  if (total > UINT32_MAX) fatal(1, "PLYFormatObj: %s has too many face corners\n", objName.c_str());
  ALLOC_ARRAY(part.facets, nf, "FacetList", kModule);
  ALLOC_ARRAY(part.facet_vertex_pool, static_cast<std::size_t>(total), "uint", kModule);
  bool fcolors = surface.has_fred && surface.has_fgreen && surface.has_fblue;
  if (fcolors) ALLOC_ARRAY(part.polygon_colors, nf, "ColorRGB", kModule);
  uint32_t first = 0;
  uint32_t *pool = part.facet_vertex_pool.data();
  for (std::size_t k = 0; k < nf; ++k) {
    const PlyFace &f = surface.flist[k];
    uint32_t count = static_cast<uint32_t>(f.count);
    if (count > total - first)
      fatal(1, "PLYFormatObj: %s: face %zu has more corners than were read\n", objName.c_str(), k);
    part.facets[k] = FacetList{count, first};
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t index = static_cast<uint32_t>(f.vertex_indices[i]);
      if (index >= part.vertex_count)
        fatal(1, "PLYFormatObj: %s: face %zu has vertex index %d, but there are %u vertices\n",
              objName.c_str(), k, f.vertex_indices[i], part.vertex_count);
      pool[first + i] = index;
    }
    first += count;
    if (fcolors) part.polygon_colors[k] = ByteColor(f.red, f.green, f.blue);
  }
  surface.flist.release();
}
