#include "viewer/aoff/readAOFFObj.h"

#include "base/fatal.h"
#include "viewer/model/normalsObj.h"

#include <algorithm>
#include <cstring>

static const char *kModule = "formatObj";

namespace {

// Three values of one record as 32-bit floats, whatever their letters.
template <class T> T Triple(const AOFFValue &v, uint32_t record) {
  return T{v.Float(record, 0), v.Float(record, 1), v.Float(record, 2)};
}

template <class T> void Records(const AOFFValue &v, std::vector<T> &out, const char *type) {
  ALLOC_ARRAY(out, v.records, type, kModule);
  static_assert(sizeof(T) == 12, "three floats");
  if (v.layout.letters == "fff" && v.bytes.size() >= std::size_t(v.records) * 12) {
    if (v.records) std::memcpy(out.data(), v.bytes.data(), std::size_t(v.records) * 12);
    return;
  }
  for (uint32_t r = 0; r < v.records; ++r) out[r] = Triple<T>(v, r);
}

void Unsupported(const AOFFProp &p) {
  warn("Unsupported type\n");
  warn("AOFFProp Name: %s\n", p.name.c_str());
  warn("AOFFProp Type: %d\n", p.kind);
}

// Where a supplied array came from, so that a size mismatch can name its file.
struct Supplied {
  std::string file;
  bool pendingDefault = false; // a "default" colour still to be spread over the final count
  ColorRGB color{};
};

// An object left without geometry (none in the header, or of a kind not taken) has nothing for
// supplied arrays to belong to: they are dropped, and the empty object is shown.
template <class T>
void CheckCount(std::vector<T> &have, uint32_t want, const Supplied &from, const char *what,
                const char *per) {
  if (want == 0) {
    std::vector<T>().swap(have);
    return;
  }
  if (!have.empty() && have.size() != want)
    fatal(1, "AOFFFormatObj: %s holds %zu %s for an object of %u %s\n", from.file.c_str(),
          have.size(), what, want, per);
}

// The properties a header gives inline ("default" lines): each sets its part of the Shape from
// the line's values. Names not listed here, nor handled above, are skipped silently.
struct InlineProp {
  const char *name;
  void (*set)(const AOFFValue &v, Shape &shape);
};

void Floats3(const AOFFValue &v, float out[3]) {
  for (int k = 0; k < 3; ++k) out[k] = v.Float(0, static_cast<std::size_t>(k));
}
float First(const AOFFValue &v) {
  return v.Float(0, 0);
}
void LightOn(const AOFFValue &v, LightState &lights, int which) {
  if (v.Number(0, 0) == 1.0) lights.light_on[which] = 1;
}
Vector Direction(const AOFFValue &v) {
  Vector d = Triple<Vector>(v, 0);
  NormalizeVector(d);
  return d;
}
LightSource &Ambient(Shape &s) {
  return s.lights.light[0];
}
LightSource &Direct(Shape &s) {
  return s.lights.light[1];
}
LightSource &Positional(Shape &s) {
  return s.lights.light[2];
}
LightSource &Spot(Shape &s) {
  return s.lights.light[3];
}

// Each setter is a function of the line's values and the Shape.
#define SETTER(...) [](const AOFFValue &v, Shape &s) { __VA_ARGS__; }
const InlineProp kInlineProps[] = {
    {"rotate", SETTER(s.part->rotate_on = 1; Floats3(v, s.part->rotate))},
    {"translate", SETTER(s.part->translate_on = 1; Floats3(v, s.part->translate))},
    {"scale", SETTER(s.part->scale_on = 1; Floats3(v, s.part->scale))},
    {"material_colors", SETTER(s.object_color = Triple<ColorRGB>(v, 0))},
    {"ambient_on", SETTER(LightOn(v, s.lights, 0))},
    {"ambient_color", SETTER(Ambient(s).color = Triple<ColorRGB>(v, 0))},
    {"direct_on", SETTER(LightOn(v, s.lights, 1))},
    {"direct_direction", SETTER(Direct(s).direction = Direction(v))},
    {"direct_color", SETTER(Direct(s).color = Triple<ColorRGB>(v, 0))},
    {"position_on", SETTER(LightOn(v, s.lights, 2))},
    {"position_point", SETTER(Positional(s).position = Triple<Coord>(v, 0))},
    {"position_atten1", SETTER(Positional(s).attenuation1 = First(v))},
    {"position_atten2", SETTER(Positional(s).attenuation2 = First(v))},
    {"position_color", SETTER(Positional(s).color = Triple<ColorRGB>(v, 0))},
    {"spot_on", SETTER(LightOn(v, s.lights, 3))},
    {"spot_point", SETTER(Spot(s).position = Triple<Coord>(v, 0))},
    {"spot_direction", SETTER(Spot(s).direction = Direction(v))},
    {"spot_atten1", SETTER(Spot(s).attenuation1 = First(v))},
    {"spot_atten2", SETTER(Spot(s).attenuation2 = First(v))},
    {"spot_conc", SETTER(Spot(s).concentration = First(v))},
    {"spot_angle", SETTER(Spot(s).spread_angle = First(v))},
    {"spot_color", SETTER(Spot(s).color = Triple<ColorRGB>(v, 0))},
    {"ambient_coef", SETTER(s.part->ambient_coef = First(v))},
    {"diffuse_coef", SETTER(s.part->diffuse_coef = First(v))},
    {"specular_coef", SETTER(s.part->specular_coef = First(v))},
    {"specular_power", SETTER(s.part->specular_power = First(v))},
    {"specular_color", SETTER(s.part->specular_color = Triple<ColorRGB>(v, 0))},
    {"transmission", SETTER(s.part->transmission = First(v))},
};
#undef SETTER

const InlineProp *FindInline(const std::string &name) {
  for (const InlineProp &p : kInlineProps)
    if (name == p.name) return &p;
  return nullptr;
}

} // namespace

void AOFFGeometryToPart(const AOFFValue &g, int offset, const std::string &file, const char *module,
                        Part &part) {
  long long sum = 0;
  for (int32_t k : g.sizes) {
    if (k < 0) fatal(1, "AOFFFormatObj: %s holds a polygon of %d vertices\n", file.c_str(), k);
    sum += k;
  }
  if (sum != static_cast<long long>(g.indices.size()))
    fatal(1, "AOFFFormatObj: %s: its polygon sizes add up to %lld but it holds %zu indices\n",
          file.c_str(), sum, g.indices.size());
  std::vector<Coord> vertices;
  std::vector<FacetList> facets;
  std::vector<uint32_t> pool;
  Records(g, vertices, "Coord");
  ALLOC_ARRAY(facets, g.polygons, "FacetList", module);
  ALLOC_ARRAY(pool, g.indices.size(), "uint", module);
  const uint32_t V = g.records;
  std::size_t at = 0;
  for (uint32_t p = 0; p < g.polygons; ++p) {
    facets[p] = FacetList{static_cast<uint32_t>(g.sizes[p]), static_cast<uint32_t>(at)};
    for (int32_t k = 0; k < g.sizes[p]; ++k, ++at) {
      long long x = static_cast<long long>(g.indices[at]) - offset;
      if (x < 0 || x >= V)
        fatal(1,
              "AOFFFormatObj: %s: polygon %u uses vertex %d, outside the object's %u vertices "
              "(index base %d)\n",
              file.c_str(), p, g.indices[at], V, offset);
      pool[at] = static_cast<uint32_t>(x);
    }
  }
  part.vertices.swap(vertices);
  part.facets.swap(facets);
  part.facet_vertex_pool.swap(pool);
  part.vertex_count = V;
  part.facet_count = g.polygons;
}

void AOFFFormatObj(const ObjDesc &desc, Shape &shape) {
  Part &part = *shape.part;

  // Pass 1: the switches that the geometry and the supplied normals depend on.
  for (const AOFFProp &p : desc.props) {
    if (p.name == "back_faces" || p.name == "vertex_order") {
      const std::string *t = p.kind == kAOFFDefault ? p.value.Text(0, 0) : nullptr;
      if (!t) continue;
      if (p.name == "back_faces")
        part.back_faces = *t == "reverse" ? 1 : 2;
      else
        part.vertex_order = *t == "clockwise" ? 1 : 2;
    } else if (p.name == "facet_offset") {
      if (p.kind != kAOFFDefault) {
        Unsupported(p);
        continue;
      }
      double v = p.value.Number(0, 0);
      int32_t whole = v > -2147483649.0 && v < 2147483648.0 ? static_cast<int32_t>(v) : 0;
      part.facet_offset = static_cast<uint16_t>(whole);
    }
  }

  // Pass 2: everything else, by name; names not listed are skipped silently.
  Supplied vnFrom, pnFrom, vcFrom, pcFrom;
  for (const AOFFProp &p : desc.props) {
    const std::string &n = p.name;
    const int kind = p.kind;
    const AOFFValue &v = p.value;
    bool isDefault = kind == kAOFFDefault;
    if (n == "geometry") {
      if (kind != kAOFFIndexedPoly) {
        Unsupported(p);
        continue;
      }
      AOFFGeometryToPart(v, part.facet_offset, p.file, kModule, part);
      part.facet_offset = 0;
      if (part.vertex_order == 1)
        for (uint32_t f = 0; f < part.facet_count; ++f) {
          uint32_t *idx = part.facetVertices(f);
          std::reverse(idx, idx + part.facets[f].count);
        }
    } else if (n == "vertex_normals" || n == "polygon_normals") {
      if (kind != kAOFFGeneric) {
        Unsupported(p);
        continue;
      }
      bool vertex = n == "vertex_normals";
      std::vector<Vector> &normals = vertex ? part.vertex_normals : part.polygon_normals;
      Records(v, normals, "Vector");
      if (part.back_faces == 1)
        for (Vector &x : normals) x = Vector{-x.x, -x.y, -x.z};
      (vertex ? vnFrom : pnFrom).file = p.file;
    } else if (n == "vertex_colors" || n == "polygon_colors") {
      bool vertex = n == "vertex_colors";
      Supplied &from = vertex ? vcFrom : pcFrom;
      std::vector<ColorRGB> &colors = vertex ? part.vertex_colors : part.polygon_colors;
      if (isDefault) {
        // Spread over the counts once the whole header is read, so that a colour line before
        // "geometry" still colours the whole object.
        from.pendingDefault = true;
        from.color = Triple<ColorRGB>(v, 0);
      } else if (kind == kAOFFGeneric) {
        Records(v, colors, "ColorRGB");
        from.pendingDefault = false;
        from.file = p.file;
      } else if (kind == kAOFFIndexed && !vertex) {
        std::vector<ColorRGB> palette;
        Records(v, palette, "ColorRGB");
        ALLOC_ARRAY(colors, v.indices.size(), "ColorRGB", kModule);
        for (std::size_t i = 0; i < v.indices.size(); ++i) {
          long long k = static_cast<long long>(v.indices[i]) - 1;
          if (k < 0 || k >= static_cast<long long>(palette.size()))
            fatal(1, "AOFFFormatObj: %s: colour %zu names record %d of a palette of %zu\n",
                  p.file.c_str(), i, v.indices[i], palette.size());
          colors[i] = palette[static_cast<std::size_t>(k)];
        }
        from.pendingDefault = false;
        from.file = p.file;
      } else {
        Unsupported(p);
      }
    } else if (n == "flyby_prp" || n == "flyby_vpn") {
      if (kind != kAOFFGeneric) {
        Unsupported(p);
        continue;
      }
      Records(v, n == "flyby_prp" ? flyby_prp : flyby_vpn, "Vector");
    } else if (n == "morph_vertices") {
      if (kind != kAOFFIndexedPoly) {
        Unsupported(p);
        continue;
      }
      Records(v, morph_vertices, "Coord");
    } else if (const InlineProp *inl = FindInline(n)) {
      if (!isDefault) {
        Unsupported(p);
        continue;
      }
      inl->set(v, shape);
    }
  }
  if (vcFrom.pendingDefault) {
    ALLOC_ARRAY(part.vertex_colors, part.vertex_count, "ColorRGB", kModule);
    for (ColorRGB &c : part.vertex_colors) c = vcFrom.color;
  }
  if (pcFrom.pendingDefault) {
    ALLOC_ARRAY(part.polygon_colors, part.facet_count, "ColorRGB", kModule);
    for (ColorRGB &c : part.polygon_colors) c = pcFrom.color;
  }
  // Whoever draws the object indexes these arrays by vertex and by facet.
  CheckCount(part.vertex_normals, part.vertex_count, vnFrom, "vertex normals", "vertices");
  CheckCount(part.polygon_normals, part.facet_count, pnFrom, "polygon normals", "polygons");
  CheckCount(part.vertex_colors, part.vertex_count, vcFrom, "vertex colours", "vertices");
  CheckCount(part.polygon_colors, part.facet_count, pcFrom, "polygon colours", "polygons");

  // Pass 3: both switches are already applied to the data.
  for (const AOFFProp &p : desc.props) {
    if (p.name == "back_faces") part.back_faces = 2;
    if (p.name == "vertex_order") part.vertex_order = 2;
  }
}
