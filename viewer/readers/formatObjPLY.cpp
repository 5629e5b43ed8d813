#include "base/fatal.h"
#include "viewer/readers/readPLYObj.h"
#include "viewer/model/object.h"

#include <cstdint>
#include <sys/mman.h>

namespace {

const char *const kModule = "formatObj";

// Sizes a large array like ALLOC_ARRAY, but first asks for huge pages over its memory, so that
// filling a million entries costs a handful of page faults instead of thousands.
template <class T> void AllocLarge(std::vector<T> &v, std::size_t n, const char *type, int line) {
  try {
    v.reserve(n);
  } catch (const std::exception &) {
    allocFailed(type, static_cast<long long>(n), line, kModule);
  }
  const std::size_t huge = 2u << 20;
  uintptr_t begin = reinterpret_cast<uintptr_t>(v.data());
  uintptr_t end = begin + n * sizeof(T);
  uintptr_t first = (begin + huge - 1) & ~static_cast<uintptr_t>(huge - 1);
  uintptr_t last = end & ~static_cast<uintptr_t>(huge - 1);
  if (last > first) madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
  allocArray(v, n, type, kModule, line);
}

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
  AllocLarge(part.vertices, nv, "Coord", __LINE__);
  bool normals = surface.has_nx && surface.has_ny && surface.has_nz;
  bool vcolors = surface.has_vred && surface.has_vgreen && surface.has_vblue;
  if (normals) AllocLarge(part.vertex_normals, nv, "Vector", __LINE__);
  if (vcolors) AllocLarge(part.vertex_colors, nv, "ColorRGB", __LINE__);
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
  AllocLarge(part.facets, nf, "FacetList", __LINE__);
  AllocLarge(part.facet_vertex_pool, static_cast<std::size_t>(total), "uint", __LINE__);
  bool fcolors = surface.has_fred && surface.has_fgreen && surface.has_fblue;
  if (fcolors) AllocLarge(part.polygon_colors, nf, "ColorRGB", __LINE__);
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
