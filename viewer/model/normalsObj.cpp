#include "viewer/model/normalsObj.h"

#include "base/beside.h"
#include "base/fatal.h"
#include "base/fillArray.h"

#include <algorithm>
#include <cmath>

static const char *kModule = "normalsObj";

double NormalizeVector(Vector &v) {
  double s = double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z;
  if (std::fabs(s - 1.0) < 1e-30) return 1.0;
  double factor = s > 0 ? 1.0 / std::sqrt(s) : 1.0;
  v.x = static_cast<float>(v.x * factor);
  v.y = static_cast<float>(v.y * factor);
  v.z = static_cast<float>(v.z * factor);
  return factor;
}

static bool Differs(const Coord &p, const Coord &q) {
  return std::fabs(p.x - q.x) >= 1e-30f || std::fabs(p.y - q.y) >= 1e-30f ||
         std::fabs(p.z - q.z) >= 1e-30f;
}

bool FacetNormal(const Coord *vertices, const uint32_t *indices, uint32_t count, Vector &normal) {
  if (count == 0) return false;
  const Coord &a = vertices[indices[0]];
  uint32_t bi = 1;
  while (bi < count && !Differs(vertices[indices[bi]], a)) ++bi;
  if (bi >= count) return false;
  const Coord &b = vertices[indices[bi]];
  // A normal too long to normalise in single precision moves c on to the next vertex.
  for (uint32_t ci = bi + 1; ci < count; ++ci) {
    const Coord &c = vertices[indices[ci]];
    Vector n;
    n.x = (b.y - a.y) * (c.z - a.z) - (c.y - a.y) * (b.z - a.z);
    n.y = (b.z - a.z) * (c.x - a.x) - (b.x - a.x) * (c.z - a.z);
    n.z = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
    if (NormalizeVector(n) >= 1e-30) {
      normal = n;
      return true;
    }
  }
  return false;
}

void ComputeFacetNormals(Part &part) {
  if (!part.polygon_normals.empty()) return;
  ALLOC_ARRAY(part.polygon_normals, part.facet_count, "Vector", kModule);
  Vector previous{0, 0, 0};
  for (uint32_t f = 0; f < part.facet_count; ++f) {
    Vector n;
    if (FacetNormal(part.vertices.data(), part.facetVertices(f), part.facets[f].count, n))
      previous = n;
    part.polygon_normals[f] = previous;
  }
}

void ComputeVertexNormals(Part &part) {
  if (!part.vertex_normals.empty()) return;
  ALLOC_ARRAY(part.vertex_normals, part.vertex_count, "Vector", kModule);
  if (part.polygon_normals.size() != part.facet_count) return;
  for (uint32_t f = 0; f < part.facet_count; ++f) {
    const Vector &n = part.polygon_normals[f];
    const uint32_t *idx = part.facetVertices(f);
    for (uint32_t k = 0; k < part.facets[f].count; ++k) {
      Vector &v = part.vertex_normals[idx[k]];
      v.x += n.x;
      v.y += n.y;
      v.z += n.z;
    }
  }
  for (Vector &v : part.vertex_normals) NormalizeVector(v);
}

float FitScale(float m) {
  if (m >= 1 && m <= 4) return 1;
  // Smaller objects are brought up to the view as larger ones are brought down to it. A single
  // point (or no point at all) has no size to fit.
  float s = 4 / m;
  return m > 0 && std::isfinite(s) ? s : 1;
}

void FitObject(Part &part) {
  // Plain comparisons keep what fmin/fmax give (a NaN coordinate is passed over) without a call
  // per coordinate, which dominated the fit of large objects. Between equal values (0 and -0)
  // the first met stays, also where the halves meet.
  auto lower = [](float a, float b) { return b < a ? b : a; };
  auto higher = [](float a, float b) { return b > a ? b : a; };
  Coord halfLo[2], halfHi[2];
  const Coord *v = part.vertices.data();
  InHalves(part.vertices.size(), std::size_t(1) << 18,
           [&](int h, std::size_t begin, std::size_t end) {
             Coord lo{1e30f, 1e30f, 1e30f}, hi{-1e30f, -1e30f, -1e30f};
             for (std::size_t i = begin; i < end; ++i) {
               const Coord &p = v[i];
               lo.x = lower(lo.x, p.x), lo.y = lower(lo.y, p.y), lo.z = lower(lo.z, p.z);
               hi.x = higher(hi.x, p.x), hi.y = higher(hi.y, p.y), hi.z = higher(hi.z, p.z);
             }
             halfLo[h] = lo, halfHi[h] = hi;
           });
  const Coord lo{lower(halfLo[0].x, halfLo[1].x), lower(halfLo[0].y, halfLo[1].y),
                 lower(halfLo[0].z, halfLo[1].z)};
  const Coord hi{higher(halfHi[0].x, halfHi[1].x), higher(halfHi[0].y, halfHi[1].y),
                 higher(halfHi[0].z, halfHi[1].z)};
  part.bbox_min = lo;
  part.bbox_max = hi;
  part.center =
      Coord{lo.x + (hi.x - lo.x) * 0.5f, lo.y + (hi.y - lo.y) * 0.5f, lo.z + (hi.z - lo.z) * 0.5f};
  part.translate_on = 1;
  part.translate[0] = -part.center.x;
  part.translate[1] = -part.center.y;
  part.translate[2] = -part.center.z;
  float m = std::fmax(hi.x - lo.x, std::fmax(hi.y - lo.y, hi.z - lo.z));
  float s = FitScale(m);
  part.scale_on = 1;
  part.scale[0] = part.scale[1] = part.scale[2] = s;
}

// Facet f is the triangle of vertices 3f, 3f + 1 and 3f + 2, as a conversion that shares no
// vertex (STL) writes them.
static bool UnsharedTriangles(const Part &part) {
  if (part.vertex_count != 3 * uint64_t(part.facet_count) ||
      part.facet_vertex_pool.size() != part.vertex_count)
    return false;
  for (uint32_t f = 0; f < part.facet_count; ++f)
    if (part.facets[f].count != 3 || part.facets[f].first != 3 * f) return false;
  for (uint32_t k = 0; k < part.vertex_count; ++k)
    if (part.facet_vertex_pool[k] != k) return false;
  return true;
}

// Counting first and filling second gives every list exactly its size in one shared pool.
void BuildVertexFacetLists(Part &part) {
  if (!part.vertex_facets.empty()) return;
  if (UnsharedTriangles(part)) {
    // Every vertex has the one facet it belongs to: the lists are known without counting.
    FILL_ARRAY(
        part.vertex_facets, part.vertex_count,
        [](std::size_t v) {
          return VertexList{1, static_cast<uint32_t>(v)};
        },
        "VertexList", kModule);
    FILL_ARRAY(
        part.vertex_facet_pool, part.vertex_count,
        [](std::size_t v) { return static_cast<uint32_t>(v / 3); }, "uint", kModule);
    return;
  }
  ALLOC_ARRAY(part.vertex_facets, part.vertex_count, "VertexList", kModule);
  std::size_t total = 0;
  for (uint32_t f = 0; f < part.facet_count; ++f) {
    const uint32_t *idx = part.facetVertices(f);
    for (uint32_t k = 0; k < part.facets[f].count; ++k) {
      if (idx[k] >= part.vertex_count)
        fatal(1, "Facet %u uses vertex %u of an object with %u vertices\n", f, idx[k],
              part.vertex_count);
      ++part.vertex_facets[idx[k]].count;
    }
    total += part.facets[f].count;
  }
  ALLOC_ARRAY(part.vertex_facet_pool, total, "uint", kModule);
  uint32_t next = 0;
  for (VertexList &list : part.vertex_facets) {
    list.first = next;
    next += list.count;
    list.count = 0;
  }
  for (uint32_t f = 0; f < part.facet_count; ++f) {
    const uint32_t *idx = part.facetVertices(f);
    for (uint32_t k = 0; k < part.facets[f].count; ++k) {
      VertexList &list = part.vertex_facets[idx[k]];
      part.vertex_facet_pool[list.first + list.count++] = f;
    }
  }
}
