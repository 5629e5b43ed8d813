#include "base/fatal.h"
#include "formats/3mf/zipPackage.h"
#include "viewer/readers/read3MFObj.h"

#include <cstring>
#include <unordered_map>

static const char *const kModule = "formatObj";

// Components nest no deeper: placing them recurses, and 3MF writers nest a few levels.
static const int kMaxComponentDepth = 64;

// Facets the file leaves uncoloured among coloured ones.
static const ColorRGB kUncoloured{0.8f, 0.8f, 0.8f};

namespace {

struct Count {
  uint64_t vertices = 0, triangles = 0;
};

// The expansion of one item: its objects in depth-first order, each with its composed transform.
struct Expander {
  const M3Package &package;
  const std::string &file;
  // Per model part, per object: 0 not yet counted, 1 being counted, 2 counted.
  std::vector<std::vector<uint8_t>> state;
  std::vector<std::vector<Count>> counts;
  Part *part = nullptr;
  uint32_t vertex = 0, facet = 0;
  bool coloured = false, cornersDiffer = false;
  // Each facet's corner colours when they differ: filled by a second walk.
  bool cornerPass = false;
  std::vector<ColorRGB> cornerColours; // 3 per facet

  Expander(const M3Package &p, const std::string &f) : package(p), file(f) {
    for (const M3Model &m : p.models) {
      state.emplace_back(m.objects.size(), 0);
      counts.emplace_back(m.objects.size());
    }
  }

  std::size_t ModelIndex(const M3Model &m) const {
    return static_cast<std::size_t>(&m - package.models.data());
  }

  // The object `id` of the part `path` names from `from`; a missing one ends the run.
  std::pair<const M3Model *, std::size_t> Object(const M3Model &from, const std::string &path,
                                                 uint32_t id, const char *who) const {
    const M3Model *m = Find3MFModel(package, from, path);
    if (!m)
      fatal(1, "3MFReadObj: %s: %s names the part \"%s\", which the package does not have\n",
            file.c_str(), who, path.c_str());
    auto it = m->objectById.find(id);
    if (it == m->objectById.end())
      fatal(1, "3MFReadObj: %s: %s names object %u, which the part %s does not have\n",
            file.c_str(), who, id, m->part.c_str());
    return {m, it->second};
  }

  // Counting runs over every object the build reaches before anything is placed, so the depth
  // and the cycles are checked here once.
  Count Counted(const M3Model &m, std::size_t o, int depth = 0) {
    const std::size_t mi = ModelIndex(m);
    if (state[mi][o] == 2) return counts[mi][o];
    const M3Object &object = m.objects[o];
    if (state[mi][o] == 1)
      fatal(1, "3MFReadObj: %s: object %u of part %s contains itself through its components\n",
            file.c_str(), object.id, m.part.c_str());
    if (depth > kMaxComponentDepth)
      fatal(1, "3MFReadObj: %s: components nest deeper than %d levels at object %u of part %s\n",
            file.c_str(), kMaxComponentDepth, object.id, m.part.c_str());
    state[mi][o] = 1;
    Count c{object.vertices.size(), object.triangles.size()};
    std::string who = "a component of object " + std::to_string(object.id);
    for (const M3Component &comp : object.components) {
      auto [cm, co] = Object(m, comp.path, comp.objectid, who.c_str());
      Count inner = Counted(*cm, co, depth + 1);
      // Shared objects multiply: saturate rather than wrap, the total is refused anyway.
      c.vertices = std::min<uint64_t>(c.vertices + inner.vertices, UINT64_MAX / 4);
      c.triangles = std::min<uint64_t>(c.triangles + inner.triangles, UINT64_MAX / 4);
    }
    state[mi][o] = 2;
    counts[mi][o] = c;
    return c;
  }

  // The colour of corner k of triangle t, false when it has none.
  bool CornerColour(const M3Model &m, const M3Object &object, std::size_t t, int k,
                    ColorRGB &out) const {
    const M3Triangle &tri = object.triangles[t];
    const uint32_t pid = tri.pid != kM3None ? tri.pid : object.pid;
    if (pid == kM3None) return false;
    uint32_t index = tri.p[k] != kM3None   ? tri.p[k]
                     : tri.p[0] != kM3None ? tri.p[0]
                                           : object.pindex;
    auto it = m.groupById.find(pid);
    if (it == m.groupById.end())
      fatal(1,
            "3MFReadObj: %s: triangle %zu of object %u names property group %u, which the part "
            "%s does not have\n",
            file.c_str(), t, object.id, pid, m.part.c_str());
    const M3Group &g = m.groups[it->second];
    if (g.kind == kM3Uncoloured) return false;
    if (index == kM3None) index = 0;
    if (index >= g.colours.size())
      fatal(1,
            "3MFReadObj: %s: triangle %zu of object %u uses entry %u of property group %u, "
            "which has %zu\n",
            file.c_str(), t, object.id, index, pid, g.colours.size());
    const M3Colour &c = g.colours[index];
    out = ColorRGB{c.r, c.g, c.b};
    return true;
  }

  void Place(const M3Model &m, std::size_t o, const M3Transform &x) {
    const M3Object &object = m.objects[o];
    const float *a = x.m;
    const double det = double(a[0]) * (double(a[4]) * a[8] - double(a[5]) * a[7]) -
                       double(a[1]) * (double(a[3]) * a[8] - double(a[5]) * a[6]) +
                       double(a[2]) * (double(a[3]) * a[7] - double(a[4]) * a[6]);
    // A mirroring transform turns the triangles' backs out: their order is turned too.
    const bool mirror = det < 0;
    const uint32_t base = vertex;
    if (!cornerPass) {
      Coord *dst = part->vertices.data() + vertex;
      for (const M3Vertex &v : object.vertices)
        *dst++ = Coord{v.x * a[0] + v.y * a[3] + v.z * a[6] + a[9],
                       v.x * a[1] + v.y * a[4] + v.z * a[7] + a[10],
                       v.x * a[2] + v.y * a[5] + v.z * a[8] + a[11]};
    }
    vertex += static_cast<uint32_t>(object.vertices.size());
    const int order[3] = {0, mirror ? 2 : 1, mirror ? 1 : 2};
    for (std::size_t t = 0; t < object.triangles.size(); ++t, ++facet) {
      const M3Triangle &tri = object.triangles[t];
      if (!cornerPass) {
        part->facets[facet] = FacetList{3, 3 * facet};
        uint32_t *idx = part->facet_vertex_pool.data() + 3 * std::size_t(facet);
        for (int k = 0; k < 3; ++k) idx[k] = base + tri.v[order[k]];
      }
      if (tri.pid == kM3None && object.pid == kM3None) continue;
      ColorRGB c[3];
      bool has[3];
      for (int k = 0; k < 3; ++k) has[k] = CornerColour(m, object, t, order[k], c[k]);
      if (!has[0] && !has[1] && !has[2]) continue;
      for (int k = 0; k < 3; ++k)
        if (!has[k]) c[k] = kUncoloured;
      if (cornerPass) {
        std::memcpy(&cornerColours[3 * std::size_t(facet)], c, sizeof c);
        continue;
      }
      coloured = true;
      part->polygon_colors[facet] = c[0];
      if (std::memcmp(&c[0], &c[1], sizeof c[0]) || std::memcmp(&c[0], &c[2], sizeof c[0]))
        cornersDiffer = true;
    }
    for (const M3Component &comp : object.components) {
      auto [cm, co] = Object(m, comp.path, comp.objectid, "a component");
      M3Transform composed; // the component's first, then the object's
      const float *b = comp.transform.m;
      float *r = composed.m;
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 3; ++j)
          r[3 * i + j] = b[3 * i] * a[j] + b[3 * i + 1] * a[3 + j] + b[3 * i + 2] * a[6 + j] +
                         (i == 3 ? a[9 + j] : 0.0f);
      Place(*cm, co, composed);
    }
  }

  void PlaceBuild() {
    const M3Model &root = package.models[0];
    for (std::size_t i = 0; i < root.items.size(); ++i) {
      const M3Item &item = root.items[i];
      auto [m, o] =
          Object(root, item.path, item.objectid, ("build item " + std::to_string(i)).c_str());
      Place(*m, o, item.transform);
    }
  }
};

} // namespace

void FormatObj3MF(const M3Package &package, Part &part, const std::string &file) {
  part.facet_offset = 0;
  // 3MF builds stand on the printer's bed, z up; the viewer shows y up.
  part.rotate_on = 1;
  part.rotate[0] = -90;
  part.rotate[1] = 0;
  part.rotate[2] = 0;

  Expander x(package, file);
  const M3Model &root = package.models[0];
  Count total;
  for (std::size_t i = 0; i < root.items.size(); ++i) {
    const M3Item &item = root.items[i];
    auto [m, o] =
        x.Object(root, item.path, item.objectid, ("build item " + std::to_string(i)).c_str());
    Count c = x.Counted(*m, o);
    total.vertices = std::min<uint64_t>(total.vertices + c.vertices, UINT64_MAX / 4);
    total.triangles = std::min<uint64_t>(total.triangles + c.triangles, UINT64_MAX / 4);
  }
  // What the Part and the normals will hold per vertex and per triangle, against what memory has.
  const uint64_t bytes = total.vertices * 40 + total.triangles * 64;
  if (total.vertices >= UINT32_MAX || 3 * total.triangles >= UINT32_MAX || bytes > InflateBudget())
    fatal(1,
          "3MFReadObj: %s: the build places %llu vertices and %llu triangles, more than "
          "memory allows\n",
          file.c_str(), static_cast<unsigned long long>(total.vertices),
          static_cast<unsigned long long>(total.triangles));

  const uint32_t nv = static_cast<uint32_t>(total.vertices);
  const uint32_t nf = static_cast<uint32_t>(total.triangles);
  ALLOC_ARRAY(part.vertices, nv, "Coord", kModule);
  ALLOC_ARRAY(part.facets, nf, "FacetList", kModule);
  ALLOC_ARRAY(part.facet_vertex_pool, 3 * std::size_t(nf), "uint", kModule);
  ALLOC_ARRAY(part.polygon_colors, nf, "ColorRGB", kModule);
  for (ColorRGB &c : part.polygon_colors) c = kUncoloured;
  part.vertex_count = nv;
  part.facet_count = nf;
  x.part = &part;
  x.PlaceBuild();
  if (!x.coloured) {
    std::vector<ColorRGB>().swap(part.polygon_colors);
    return;
  }
  if (!x.cornersDiffer) return;

  // Vertex colours: every corner's colour goes to its vertex, a vertex meeting corners of another
  // colour is repeated for it.
  ALLOC_ARRAY(x.cornerColours, 3 * std::size_t(nf), "ColorRGB", kModule);
  for (ColorRGB &c : x.cornerColours) c = kUncoloured;
  x.cornerPass = true;
  x.vertex = x.facet = 0;
  x.PlaceBuild();
  std::vector<ColorRGB>().swap(part.polygon_colors);
  ALLOC_ARRAY(part.vertex_colors, nv, "ColorRGB", kModule);
  std::vector<uint8_t> set;
  ALLOC_ARRAY(set, nv, "char", kModule);
  auto key = [](uint32_t v, const ColorRGB &c) {
    uint32_t bits[3];
    std::memcpy(bits, &c, sizeof bits);
    return (uint64_t(v) << 32) ^ (uint64_t(bits[0]) * 0x9E3779B1u) ^ (uint64_t(bits[1]) << 11) ^
           bits[2];
  };
  struct Copy {
    uint32_t vertex;
    ColorRGB colour;
    uint32_t index;
  };
  std::unordered_multimap<uint64_t, Copy> copies;
  for (std::size_t corner = 0; corner < 3 * std::size_t(nf); ++corner) {
    uint32_t &v = part.facet_vertex_pool[corner];
    const ColorRGB &c = x.cornerColours[corner];
    if (!set[v]) {
      set[v] = 1;
      part.vertex_colors[v] = c;
      continue;
    }
    if (!std::memcmp(&part.vertex_colors[v], &c, sizeof c)) continue;
    const uint64_t k = key(v, c);
    uint32_t found = UINT32_MAX;
    for (auto [it, end] = copies.equal_range(k); it != end; ++it)
      if (it->second.vertex == v && !std::memcmp(&it->second.colour, &c, sizeof c))
        found = it->second.index;
    if (found == UINT32_MAX) {
      if (part.vertices.size() >= UINT32_MAX - 1)
        fatal(1, "3MFReadObj: %s: too many vertices once colours are split\n", file.c_str());
      found = static_cast<uint32_t>(part.vertices.size());
      const Coord at = part.vertices[v];
      ALLOC_OR_REPORT("Coord", found + 1, kModule, part.vertices.push_back(at);
                      part.vertex_colors.push_back(c); copies.emplace(k, Copy{v, c, found}));
    }
    v = found;
  }
  part.vertex_count = static_cast<uint32_t>(part.vertices.size());
}
