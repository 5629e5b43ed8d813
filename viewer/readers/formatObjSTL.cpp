// Conversion of a repaired STL mesh into the display model: every facet keeps its own three
// vertices and the normal the repair left on it.
#include "base/beside.h"
#include "base/fatal.h"
#include "base/fillArray.h"
#include "viewer/model/object.h"
#include "viewer/readers/readSTLObj.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

static const char *kModule = "formatObj";

static const uintptr_t kPage = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
// Below this the facets are copied in one go and freed with the record.
static const std::size_t kDropWorthy = std::size_t(4) << 20;

// Gives the whole pages from `from` (a page boundary) up to `to` back to the system; what they
// held is gone. Returns where the next drop starts.
static uintptr_t DropPages(uintptr_t from, uintptr_t to) {
  to &= ~(kPage - 1);
  if (to <= from) return from;
  madvise(reinterpret_cast<void *>(from), to - from, MADV_DONTNEED);
  return to;
}

void STLFillFacetList(Part &part, std::size_t facets) {
  FILL_ARRAY(
      part.facets, facets,
      [](std::size_t i) {
        return FacetList{3, static_cast<uint32_t>(3 * i)};
      },
      "FacetList", kModule);
}

void STLFillIndexPool(Part &part, std::size_t facets) {
  FILL_ARRAY(
      part.facet_vertex_pool, 3 * facets, [](std::size_t k) { return static_cast<uint32_t>(k); },
      "uint", kModule);
}

void STLAppendFacets(Part &part, const stl_facet *facets, std::size_t from, std::size_t to) {
  // Each array is written once, in facet order, straight from the library's facets, with no
  // zero-fill before it: that copy is the whole cost of the conversion.
  auto vertex = [facets](std::size_t k) {
    const stl_vertex &v = facets[k / 3].vertex[k % 3];
    return Coord{v.x, v.y, v.z};
  };
  auto normal = [facets](std::size_t i) {
    const stl_normal &v = facets[i].normal;
    return Vector{v.x, v.y, v.z};
  };
  appendGenerated(part.vertices, 3 * from, 3 * to, vertex);
  appendGenerated(part.polygon_normals, from, to, normal);
}

void STLFormatObj(STLObj &obj, Shape &shape) {
  Part &part = *shape.part;
  const int n = obj.stats.number_of_facets;
  if (n < 0 || static_cast<uint64_t>(n) * 3 > UINT32_MAX)
    fatal(1, "STLFormatObj: %s has too many facets (%d)\n", objName.c_str(), n);
  const std::size_t facets = static_cast<std::size_t>(n);
  part.facet_offset = 0;
  part.vertex_count = static_cast<uint32_t>(3 * facets);
  part.facet_count = static_cast<uint32_t>(facets);

  // The facet list and its index pool follow from the count alone: they are written on a second
  // thread while this one copies the coordinates.
  Beside lists([&part, facets] {
    STLFillFacetList(part, facets);
    STLFillIndexPool(part, facets);
  });

  // The record is released right after this: what the display model does not take from it goes
  // first, and the facets go back to the system as they are copied, so that the display model
  // of a huge mesh is built in the memory the library held rather than beside it.
  std::free(obj.neighbors_start);
  obj.neighbors_start = nullptr;

  const stl_facet *source = obj.facet_start;
  RESERVE_ARRAY(part.vertices, 3 * facets, "Coord", kModule);
  RESERVE_ARRAY(part.polygon_normals, facets, "Vector", kModule);
  const bool large = facets * sizeof(stl_facet) >= kDropWorthy;
  const std::size_t block = large ? (std::size_t(1) << 20) / sizeof(stl_facet) : facets;
  // The first page is shared with the allocator's own record of the block.
  uintptr_t dropped = (reinterpret_cast<uintptr_t>(source) + kPage - 1) & ~(kPage - 1);
  for (std::size_t from = 0; from < facets; from += block) {
    const std::size_t to = std::min(facets, from + block);
    STLAppendFacets(part, source, from, to);
    if (large) dropped = DropPages(dropped, reinterpret_cast<uintptr_t>(source + to));
  }
  lists.Join();
}
