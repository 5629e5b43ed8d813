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
  // cost a tenth of a large load); -0 is taken as 0, as they compare equal.
  std::size_t size = 16;
  while (size < std::size_t(n) * 2) size *= 2;
  constexpr uint32_t kFree = 0xffffffffu;
  std::vector<uint32_t> table;
  ALLOC_OR_REPORT("uint", size, kModule, table.assign(size, kFree));
  const Coord *v = part.vertices.data();
  auto bits = [](float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u == 0x80000000u ? 0u : u;
  };
  for (uint32_t i = 0; i < n; ++i) {
    id[i] = i;
    // Only finite places are welded: a NaN equals nothing, not even itself.
    if (!std::isfinite(v[i].x) || !std::isfinite(v[i].y) || !std::isfinite(v[i].z)) continue;
    const uint64_t h = (uint64_t(bits(v[i].x)) * 0x9e3779b97f4a7c15ull) ^
                       (uint64_t(bits(v[i].y)) * 0xc2b2ae3d27d4eb4full) ^
                       (uint64_t(bits(v[i].z)) * 0x165667b19e3779f9ull);
    for (std::size_t slot = (h ^ (h >> 29)) & (size - 1);; slot = (slot + 1) & (size - 1)) {
      const uint32_t j = table[slot];
      if (j == kFree) {
        table[slot] = i;
        break;
      }
      if (v[j].x == v[i].x && v[j].y == v[i].y && v[j].z == v[i].z) {
        id[i] = j; // the first index met at a place is its lowest
        break;
      }
    }
  }
  return id;
}

struct HalfEdge {
  uint64_t key;   // lower << 32 | higher welded vertex: both ways of an edge share it
  uint32_t facet; // the top bit says the edge runs from the higher vertex to the lower
  bool operator<(const HalfEdge &o) const { return key < o.key; }
};
constexpr uint32_t kDownward = 0x80000000u;

uint32_t Root(std::vector<uint32_t> &parent, uint32_t f) {
  while (parent[f] != f) {
    parent[f] = parent[parent[f]];
    f = parent[f];
  }
  return f;
}

} // namespace

bool ClosedPieces(const Part &part, std::vector<uint32_t> &piece, uint32_t &pieces) {
  pieces = 0;
  piece.clear();
  const uint32_t facets = part.facet_count;
  // The top bit of a half-edge's facet number carries its direction.
  if (facets == 0 || facets >= kDownward || part.facets.size() < facets) return false;
  std::vector<uint32_t> id = WeldedIndices(part);
  for (uint32_t f = 0; f < facets; ++f)
    if (part.facets[f].count < 3) return false;
  // Each edge is keyed by its lower welded vertex, whichever way it runs, and bucketed by that
  // vertex (a counting sort: linear, where one sort of every edge cost most of a large load);
  // inside a bucket the few edges are sorted by their higher vertex.
  const std::size_t places = id.size();
  std::vector<std::size_t> start;
  ALLOC_ARRAY(start, places + 1, "size_t", kModule);
  auto each = [&](auto &&visit) {
    for (uint32_t f = 0; f < facets; ++f) {
      const uint32_t *idx = part.facetVertices(f);
      const uint32_t n = part.facets[f].count;
      for (uint32_t k = 0; k < n; ++k) {
        uint32_t a = idx[k], b = idx[k + 1 < n ? k + 1 : 0];
        if (a >= places || b >= places) return false;
        a = id[a], b = id[b];
        // An edge drawn to a point has no side to match.
        if (a < b) visit(a, HalfEdge{uint64_t(a) << 32 | b, f});
        if (a > b) visit(b, HalfEdge{uint64_t(b) << 32 | a, f | kDownward});
      }
    }
    return true;
  };
  std::size_t count = 0;
  if (!each([&](uint32_t low, const HalfEdge &) { ++start[low + 1], ++count; })) return false;
  for (std::size_t v = 0; v < places; ++v) start[v + 1] += start[v];
  std::vector<HalfEdge> edges;
  ALLOC_OR_REPORT("HalfEdge", count, kModule, edges.resize(count));
  {
    std::vector<std::size_t> next(start.begin(), start.end() - 1);
    each([&](uint32_t low, const HalfEdge &e) { edges[next[low]++] = e; });
  }
  for (std::size_t v = 0; v < places; ++v)
    if (start[v + 1] - start[v] > 1)
      std::sort(edges.begin() + start[v], edges.begin() + start[v + 1]);
  std::vector<uint32_t> parent;
  ALLOC_ARRAY(parent, facets, "uint", kModule);
  std::iota(parent.begin(), parent.end(), 0u);
  if (edges.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < edges.size(); i += 2) {
    const HalfEdge &e = edges[i], &t = edges[i + 1];
    if (t.key != e.key || ((e.facet ^ t.facet) & kDownward) == 0) return false;
    if (i + 2 < edges.size() && edges[i + 2].key == e.key) return false;
    uint32_t r = Root(parent, e.facet & ~kDownward), s = Root(parent, t.facet & ~kDownward);
    if (r != s) parent[std::max(r, s)] = std::min(r, s);
  }
  ALLOC_ARRAY(piece, facets, "uint", kModule);
  // Roots are the lowest facet of their piece, so numbering in facet order meets each root first.
  for (uint32_t f = 0; f < facets; ++f) {
    uint32_t r = Root(parent, f);
    piece[f] = r == f ? pieces++ : piece[r];
  }
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
