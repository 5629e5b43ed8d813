#include "viewer/model/orientObj.h"

#include "base/fatal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

static const char *kModule = "orientObj";

namespace {

// One index per place: vertices at exactly the same coordinates share the lowest of their
// indices, as files that repeat a vertex per facet (or at a seam) still close their surface.
std::vector<uint32_t> WeldedIndices(const Part &part) {
  const uint32_t n =
      static_cast<uint32_t>(std::min<std::size_t>(part.vertex_count, part.vertices.size()));
  std::vector<uint32_t> id;
  ALLOC_ARRAY(id, n, "uint", kModule);
  // An open-addressed table of places, by their bits (a linear pass, where sorting the places
  // cost a tenth of a large load); -0 is taken as 0, as they compare equal. Each slot keeps the
  // top of its place's hash beside the index, so a probe past another place rarely reads that
  // place's coordinates, and the slot of a vertex a little ahead is fetched early: the table is
  // far larger than the caches and each vertex would otherwise wait for memory.
  std::size_t size = 16;
  while (size < std::size_t(n) * 2) size *= 2;
  constexpr uint64_t kFree = ~uint64_t(0);
  std::vector<uint64_t> table;
  ALLOC_OR_REPORT("uint64", size, kModule, table.assign(size, kFree));
  const Coord *v = part.vertices.data();
  auto bits = [](float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u == 0x80000000u ? 0u : u;
  };
  auto hash = [&](uint32_t i) {
    const uint64_t h = (uint64_t(bits(v[i].x)) * 0x9e3779b97f4a7c15ull) ^
                       (uint64_t(bits(v[i].y)) * 0xc2b2ae3d27d4eb4full) ^
                       (uint64_t(bits(v[i].z)) * 0x165667b19e3779f9ull);
    return h ^ (h >> 29);
  };
  constexpr uint32_t kAhead = 16;
  for (uint32_t i = 0; i < n; ++i) {
    if (i + kAhead < n) __builtin_prefetch(&table[hash(i + kAhead) & (size - 1)]);
    id[i] = i;
    // Only finite places are welded: a NaN equals nothing, not even itself.
    if (!std::isfinite(v[i].x) || !std::isfinite(v[i].y) || !std::isfinite(v[i].z)) continue;
    const uint64_t h = hash(i), tag = h & 0xffffffff00000000ull;
    for (std::size_t slot = h & (size - 1);; slot = (slot + 1) & (size - 1)) {
      const uint64_t entry = table[slot];
      if (entry == kFree) {
        table[slot] = tag | i;
        break;
      }
      const uint32_t j = static_cast<uint32_t>(entry);
      if ((entry & 0xffffffff00000000ull) == tag && v[j].x == v[i].x && v[j].y == v[i].y &&
          v[j].z == v[i].z) {
        id[i] = j; // the first index met at a place is its lowest
        break;
      }
    }
  }
  return id;
}

// A half-edge in the bucket of its lower welded vertex: the bucket holds the rest of the key.
struct HalfEdge {
  uint32_t high;  // the higher welded vertex
  uint32_t facet; // the top bit says the edge runs from the higher vertex to the lower
};
constexpr uint32_t kDownward = 0x80000000u;

uint32_t Root(std::vector<uint32_t> &parent, uint32_t f) {
  while (parent[f] != f) {
    parent[f] = parent[parent[f]];
    f = parent[f];
  }
  return f;
}

// The few edges of one vertex, by their other vertex; insertion beats a general sort at this size.
void SortBucket(HalfEdge *begin, HalfEdge *end) {
  for (HalfEdge *i = begin + 1; i < end; ++i) {
    const HalfEdge e = *i;
    HalfEdge *j = i;
    for (; j > begin && j[-1].high > e.high; --j) *j = j[-1];
    *j = e;
  }
}

} // namespace

bool ClosedPieces(const Part &part, std::vector<uint32_t> &piece, uint32_t &pieces) {
  pieces = 0;
  piece.clear();
  const uint32_t facets = part.facet_count;
  // The top bit of a half-edge's facet number carries its direction.
  if (facets == 0 || facets >= kDownward || part.facets.size() < facets) return false;
  for (uint32_t f = 0; f < facets; ++f)
    if (part.facets[f].count < 3) return false;
  std::vector<uint32_t> id = WeldedIndices(part);
  const uint32_t places = static_cast<uint32_t>(id.size());
  // Each edge is bucketed by its lower welded vertex, whichever way it runs (a counting sort:
  // linear, where one sort of every edge cost most of a large load). A bucket's count becomes its
  // end, and filling steps each end back to the bucket's start.
  std::vector<uint32_t> start;
  ALLOC_ARRAY(start, std::size_t(places) + 1, "uint", kModule);
  auto each = [&](auto &&visit) {
    for (uint32_t f = 0; f < facets; ++f) {
      const uint32_t *idx = part.facetVertices(f);
      const uint32_t n = part.facets[f].count;
      uint32_t a = idx[n - 1];
      if (a >= places) return false;
      a = id[a];
      for (uint32_t k = 0; k < n; ++k) {
        uint32_t b = idx[k];
        if (b >= places) return false;
        b = id[b];
        // An edge drawn to a point has no side to match.
        if (a < b) visit(a, HalfEdge{b, f});
        if (a > b) visit(b, HalfEdge{a, f | kDownward});
        a = b;
      }
    }
    return true;
  };
  uint64_t count = 0;
  if (!each([&](uint32_t low, const HalfEdge &) { ++start[low], ++count; })) return false;
  // Half-edges are counted in 32 bits; so many would not fit in memory beside their facets.
  if (count % 2 != 0 || count >= 0xffffffffu) return false;
  for (uint32_t v = 1; v < places; ++v) start[v] += start[v - 1];
  start[places] = static_cast<uint32_t>(count);
  std::vector<HalfEdge> edges;
  ALLOC_OR_REPORT("HalfEdge", count, kModule, edges.resize(count));
  each([&](uint32_t low, const HalfEdge &e) { edges[--start[low]] = e; });
  id = std::vector<uint32_t>();
  std::vector<uint32_t> parent;
  ALLOC_ARRAY(parent, facets, "uint", kModule);
  std::iota(parent.begin(), parent.end(), 0u);
  for (uint32_t v = 0; v < places; ++v) {
    HalfEdge *begin = edges.data() + start[v], *end = edges.data() + start[v + 1];
    if ((end - begin) % 2 != 0) return false;
    SortBucket(begin, end);
    for (HalfEdge *e = begin; e < end; e += 2) {
      const HalfEdge &t = e[1];
      if (t.high != e->high || ((e->facet ^ t.facet) & kDownward) == 0) return false;
      if (e + 2 < end && e[2].high == e->high) return false;
      uint32_t r = Root(parent, e->facet & ~kDownward), s = Root(parent, t.facet & ~kDownward);
      if (r != s) parent[std::max(r, s)] = std::min(r, s);
    }
  }
  // Every facet's parent is at or below it, so in facet order each parent is already its piece's
  // number when its children are met: the parents become the numbers in place.
  for (uint32_t f = 0; f < facets; ++f) parent[f] = parent[f] == f ? pieces++ : parent[parent[f]];
  piece = std::move(parent);
  return true;
}

std::vector<double> PieceVolumes(const Part &part, const std::vector<uint32_t> &piece,
                                 uint32_t pieces) {
  std::vector<double> volume;
  ALLOC_ARRAY(volume, pieces, "double", kModule);
  if (part.vertices.empty()) return volume;
  // About a point of the object, so that a far-off object keeps its precision.
  const Coord o = part.vertices[0];
  for (uint32_t f = 0; f < part.facet_count && f < piece.size(); ++f) {
    const uint32_t *idx = part.facetVertices(f);
    const uint32_t n = part.facets[f].count;
    auto at = [&](uint32_t k, double p[3]) {
      const Coord &c = part.vertices[idx[k]];
      p[0] = double(c.x) - o.x, p[1] = double(c.y) - o.y, p[2] = double(c.z) - o.z;
    };
    double a[3], b[3], c[3], sum = 0;
    at(0, a);
    for (uint32_t k = 1; k + 1 < n; ++k) {
      at(k, b);
      at(k + 1, c);
      sum += a[0] * (b[1] * c[2] - b[2] * c[1]) + a[1] * (b[2] * c[0] - b[0] * c[2]) +
             a[2] * (b[0] * c[1] - b[1] * c[0]);
    }
    volume[piece[f]] += sum / 6;
  }
  return volume;
}

Orientation PlanOrientation(const Part &part) {
  Orientation o;
  uint32_t pieces = 0;
  o.closed = ClosedPieces(part, o.piece, pieces);
  if (!o.closed) return o;
  std::vector<double> volume = PieceVolumes(part, o.piece, pieces);
  ALLOC_OR_REPORT("bool", pieces, kModule, o.flip.resize(pieces));
  for (uint32_t p = 0; p < pieces; ++p) o.flip[p] = volume[p] < 0;
  return o;
}

void ApplyOrientation(Part &part, const Orientation &o) {
  part.fronts_known = o.closed ? 1 : 0;
  if (!o.closed) return;
  for (uint32_t f = 0; f < part.facet_count && f < o.piece.size(); ++f)
    if (o.flip[o.piece[f]]) {
      uint32_t *idx = part.facetVertices(f);
      std::reverse(idx, idx + part.facets[f].count);
    }
}
