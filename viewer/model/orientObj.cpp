#include "viewer/model/orientObj.h"

#include "base/fatal.h"

#include <algorithm>
#include <cmath>
#include <numeric>

static const char *kModule = "orientObj";

namespace {

// One index per place: vertices at exactly the same coordinates share the lowest of their
// indices, as files that repeat a vertex per facet (or at a seam) still close their surface.
std::vector<uint32_t> WeldedIndices(const Part &part) {
  const uint32_t n =
      static_cast<uint32_t>(std::min<std::size_t>(part.vertex_count, part.vertices.size()));
  std::vector<uint32_t> order, id;
  ALLOC_ARRAY(id, n, "uint", kModule);
  std::iota(id.begin(), id.end(), 0u);
  ALLOC_OR_REPORT("uint", n, kModule, order.reserve(n));
  const Coord *v = part.vertices.data();
  // Only finite places are compared: a NaN would break the ordering.
  for (uint32_t i = 0; i < n; ++i)
    if (std::isfinite(v[i].x) && std::isfinite(v[i].y) && std::isfinite(v[i].z)) order.push_back(i);
  auto less = [v](uint32_t a, uint32_t b) {
    if (v[a].x != v[b].x) return v[a].x < v[b].x;
    if (v[a].y != v[b].y) return v[a].y < v[b].y;
    if (v[a].z != v[b].z) return v[a].z < v[b].z;
    return a < b;
  };
  std::sort(order.begin(), order.end(), less);
  for (std::size_t k = 1; k < order.size(); ++k) {
    const Coord &p = v[order[k - 1]], &q = v[order[k]];
    if (p.x == q.x && p.y == q.y && p.z == q.z) id[order[k]] = id[order[k - 1]];
  }
  return id;
}

struct HalfEdge {
  uint64_t key; // from << 32 | to, welded
  uint32_t facet;
  bool operator<(const HalfEdge &o) const { return key < o.key; }
};

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
  if (facets == 0 || part.facets.size() < facets) return false;
  std::vector<uint32_t> id = WeldedIndices(part);
  std::size_t total = 0;
  for (uint32_t f = 0; f < facets; ++f) {
    if (part.facets[f].count < 3) return false;
    total += part.facets[f].count;
  }
  std::vector<HalfEdge> edges;
  ALLOC_OR_REPORT("HalfEdge", total, kModule, edges.reserve(total));
  for (uint32_t f = 0; f < facets; ++f) {
    const uint32_t *idx = part.facetVertices(f);
    const uint32_t n = part.facets[f].count;
    for (uint32_t k = 0; k < n; ++k) {
      uint32_t a = idx[k], b = idx[k + 1 < n ? k + 1 : 0];
      if (a >= id.size() || b >= id.size()) return false;
      a = id[a], b = id[b];
      // An edge drawn to a point has no side to match.
      if (a != b) edges.push_back(HalfEdge{uint64_t(a) << 32 | b, f});
    }
  }
  std::sort(edges.begin(), edges.end());
  std::vector<uint32_t> parent;
  ALLOC_ARRAY(parent, facets, "uint", kModule);
  std::iota(parent.begin(), parent.end(), 0u);
  for (std::size_t i = 0; i < edges.size(); ++i) {
    if (i + 1 < edges.size() && edges[i + 1].key == edges[i].key) return false;
    uint64_t back = (edges[i].key << 32) | (edges[i].key >> 32);
    auto it = std::lower_bound(edges.begin(), edges.end(), HalfEdge{back, 0});
    if (it == edges.end() || it->key != back) return false;
    uint32_t r = Root(parent, edges[i].facet), s = Root(parent, it->facet);
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
